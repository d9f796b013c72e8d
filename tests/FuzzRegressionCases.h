#ifndef FUZZ_REGRESSION_CASES_H
#define FUZZ_REGRESSION_CASES_H

#include "TestSupport.h"

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

// The files kept for one harness, in name order.
inline std::vector<std::string> FuzzRegressionCases(const std::string &harness)
{
    std::vector<std::string> paths;
    const std::string dir = std::string(KORVEL_TEST_DATA) + "/fuzz-regressions/" + harness;
    if (DIR *listing = opendir(dir.c_str())) {
        while (dirent *entry = readdir(listing)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") paths.push_back(dir + "/" + name);
        }
        closedir(listing);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

inline std::string FuzzCaseBytes(const std::string &path)
{
    return ReadFileBytes(path);
}

#endif
