#include "KorvelInfo.h"

#include "KorvelLoopsInfo.h"
#include "SavedSettings.h"
#include "System/HomeDirectory.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <pwd.h>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

class FixedHome : public HomeDirectory
{
public:
    explicit FixedHome(const std::string &path, bool known = true) : m_Path(path), m_Known(known) {}
    bool Find(std::string &path) override
    {
        if (m_Known) path = m_Path;
        return m_Known;
    }

private:
    std::string m_Path;
    bool m_Known;
};

// The program's own file name on the general base, so each test gets a fresh
// object that reads the stand-in home directory.
class LoopsInfo : public KorvelInfo
{
public:
    std::string ResourceFileName() override { return ".KorvelLoopsrc"; }
};

const char *const DefaultFile = "KorvelSound resource file\n"
                                "\n"
                                "BufferSize        = 512\n"
                                "Samplerate        = 44100\n"
                                "WantMidi          = 0\n"
                                "FilterGranularity = 50\n"
                                "Output            = /dev/dsp\n"
                                "Midi              = /dev/midi\n"
                                "WantRealtimeOut   = 1\n"
                                "Polyphony         = 1\n"
                                "UndoMemoryMB      = 128\n"
                                "CompensateLatency = 1\n"
                                "FadeMs            = 3\n"
                                "OscPort           = 9951\n"
                                "OscAddress        = 127.0.0.1\n"
                                "SyncSource        = 0\n";

std::string FileWith(const std::string &line, const std::string &replacement)
{
    std::string text = DefaultFile;
    size_t at = text.find(line);
    size_t end = text.find('\n', at);
    return text.replace(at, end - at, replacement);
}

class KorvelInfoTest : public testing::Test
{
protected:
    KorvelInfoTest() : m_Home(m_Dir.Path()) { HomeDirectory::SetCurrent(&m_Home); }
    ~KorvelInfoTest() override { HomeDirectory::SetCurrent(nullptr); }

    std::string RcPath() const { return m_Dir.File(".KorvelLoopsrc"); }

    // Loads the given file text; returns what was written to standard error.
    std::string Load(const std::string &text)
    {
        WriteFileBytes(RcPath(), text);
        LoopsInfo info;
        testing::internal::CaptureStderr();
        info.LoadResourceFile();
        return testing::internal::GetCapturedStderr();
    }

    void ExpectDefaults()
    {
        EXPECT_EQ(KorvelInfo::BufferSize, 512);
        EXPECT_EQ(KorvelInfo::Samplerate, 44100);
        EXPECT_FALSE(KorvelInfo::WantMidi);
        EXPECT_EQ(KorvelInfo::FilterGranularity, 50);
        EXPECT_EQ(KorvelInfo::OutputDevice, "/dev/dsp");
        EXPECT_EQ(KorvelInfo::MidiDevice, "/dev/midi");
        EXPECT_TRUE(KorvelInfo::WantRealtimeOut);
        EXPECT_EQ(KorvelInfo::Polyphony, 1);
        EXPECT_EQ(KorvelInfo::UndoMemoryMB, 128);
        EXPECT_TRUE(KorvelInfo::CompensateLatency);
        EXPECT_EQ(KorvelInfo::OscAddress, "127.0.0.1");
    }

    SavedSettings m_Saved;
    TempDir m_Dir;
    FixedHome m_Home;
};

} // namespace

TEST_F(KorvelInfoTest, MissingFileIsCreatedOnceWithTheBuiltInValues)
{
    ExpectDefaults();
    {
        LoopsInfo info;
        EXPECT_EQ(info.m_HomePath, m_Dir.Path());
        testing::internal::CaptureStderr();
        info.LoadResourceFile();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Creating " + RcPath() + "\n");
    }
    EXPECT_EQ(ReadFileBytes(RcPath()), DefaultFile);
    ExpectDefaults();
    EXPECT_EQ(KorvelInfo::FadeMs, KorvelInfo::DefaultFadeMs);
    EXPECT_EQ(KorvelInfo::OscPortNumber, 9951);

    // The second start reads the file back, silently, and leaves it alone.
    KorvelInfo::BufferSize = 64;
    KorvelInfo::OutputDevice = "/dev/other";
    LoopsInfo again;
    testing::internal::CaptureStderr();
    again.LoadResourceFile();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ExpectDefaults();
    EXPECT_EQ(KorvelInfo::OscPortNumber, 9951);
    EXPECT_EQ(ReadFileBytes(RcPath()), DefaultFile);
}

TEST_F(KorvelInfoTest, EmptyFileKeepsEveryBuiltInValue)
{
    EXPECT_EQ(Load(""), "");
    ExpectDefaults();
    EXPECT_EQ(ReadFileBytes(RcPath()), "");
}

TEST_F(KorvelInfoTest, ValuesAreTakenByPositionWhateverTheKeysSay)
{
    EXPECT_EQ(Load(FileWith("Samplerate", "Samplerate        = 48000")), "");
    EXPECT_EQ(KorvelInfo::Samplerate, 48000);
    EXPECT_EQ(KorvelInfo::BufferSize, 512);
    EXPECT_EQ(KorvelInfo::Polyphony, 1);
    EXPECT_EQ(Load(FileWith("CompensateLatency", "CompensateLatency = 0")), "");
    EXPECT_FALSE(KorvelInfo::CompensateLatency);
    EXPECT_EQ(Load(FileWith("FadeMs", "FadeMs = 12")), "");
    EXPECT_EQ(KorvelInfo::FadeMs, 12);
    // A file from before fades keeps its loops sounding as recorded.
    const std::string beforeFades =
        std::string(DefaultFile).substr(0, std::string(DefaultFile).find("FadeMs"));
    EXPECT_EQ(Load(beforeFades), "");
    EXPECT_EQ(KorvelInfo::FadeMs, 0);
    EXPECT_EQ(Load(FileWith("OscAddress", "OscAddress = 0.0.0.0")), "");
    EXPECT_EQ(KorvelInfo::OscAddress, "0.0.0.0");
    EXPECT_EQ(Load(FileWith("OscPort", "OscPort = 0")), "");
    EXPECT_EQ(KorvelInfo::OscPortNumber, 0);
    EXPECT_EQ(Load(FileWith("SyncSource", "SyncSource = 2")), "");
    EXPECT_EQ(KorvelInfo::SyncChoice, 2);
    // Older files follow the program's own tempo.
    EXPECT_EQ(Load(std::string(DefaultFile).substr(0, std::string(DefaultFile).find("SyncSource"))), "");
    EXPECT_EQ(KorvelInfo::SyncChoice, 0);
    // A file without the OSC lines (from before the server, or cut short) keeps it off.
    std::string older = DefaultFile;
    for (const char *end : {"OscPort", "CompensateLatency", "Output"}) {
        KorvelInfo::OscPortNumber = 9951;
        EXPECT_EQ(Load(older.substr(0, older.find(end))), "");
        EXPECT_EQ(KorvelInfo::OscPortNumber, 0) << end;
    }

    EXPECT_EQ(Load("Some other header\n"
                   "Bufersize = 256\n"
                   "Smplerate = 22050\n"
                   "WntMidi = 1\n"
                   "FilterGran = 10\n"
                   "Out = /dev/dsp1\n"
                   "Mid = /dev/midi2\n"
                   "RealTime = 0\n"
                   "Poly = 4\n"),
              "");
    EXPECT_EQ(KorvelInfo::BufferSize, 256);
    EXPECT_EQ(KorvelInfo::Samplerate, 22050);
    EXPECT_TRUE(KorvelInfo::WantMidi);
    EXPECT_EQ(KorvelInfo::FilterGranularity, 10);
    EXPECT_EQ(KorvelInfo::OutputDevice, "/dev/dsp1");
    EXPECT_EQ(KorvelInfo::MidiDevice, "/dev/midi2");
    EXPECT_FALSE(KorvelInfo::WantRealtimeOut);
    EXPECT_EQ(KorvelInfo::Polyphony, 4);
}

TEST_F(KorvelInfoTest, TruncatedFileKeepsTheBuiltInRest)
{
    std::string text = FileWith("Output", "Output            = /dev/dsp3");
    text = text.substr(0, text.find("\nMidi") + 1);
    KorvelInfo::MidiDevice = "/dev/midi";
    EXPECT_EQ(Load(text), "");
    EXPECT_EQ(KorvelInfo::OutputDevice, "/dev/dsp3");
    EXPECT_EQ(KorvelInfo::MidiDevice, "/dev/midi");
    EXPECT_TRUE(KorvelInfo::WantRealtimeOut);
    EXPECT_EQ(KorvelInfo::Polyphony, 1);
}

TEST_F(KorvelInfoTest, CountsOutsideTheirRangeKeepTheBuiltInValueWithOneWarning)
{
    struct Case
    {
        const char *key;
        const char *value;
        int *setting;
        int builtIn;
    };
    const Case cases[] = {{"BufferSize", "0", &KorvelInfo::BufferSize, 512},
                          {"BufferSize", "-5", &KorvelInfo::BufferSize, 512},
                          {"BufferSize", "10000000", &KorvelInfo::BufferSize, 512},
                          {"Samplerate", "0", &KorvelInfo::Samplerate, 44100},
                          {"Samplerate", "1", &KorvelInfo::Samplerate, 44100},
                          {"Samplerate", "7999", &KorvelInfo::Samplerate, 44100},
                          {"Samplerate", "384001", &KorvelInfo::Samplerate, 44100},
                          {"FilterGranularity", "0", &KorvelInfo::FilterGranularity, 50},
                          {"Polyphony", "0", &KorvelInfo::Polyphony, 1},
                          {"Polyphony", "257", &KorvelInfo::Polyphony, 1},
                          {"UndoMemoryMB", "0", &KorvelInfo::UndoMemoryMB, 128},
                          {"UndoMemoryMB", "65537", &KorvelInfo::UndoMemoryMB, 128},
                          {"FadeMs", "-1", &KorvelInfo::FadeMs, 0},
                          {"FadeMs", "51", &KorvelInfo::FadeMs, 0}};
    for (const Case &c : cases) {
        std::string key = c.key;
        std::string line = key + std::string(18 - key.size(), ' ') + "= " + c.value;
        std::string text = FileWith(key + " ", line);
        // A later setting proves that reading carried on.
        text.replace(text.find("/dev/midi"), 9, "/dev/midi7");
        std::string messages = Load(text);
        EXPECT_EQ(*c.setting, c.builtIn) << key << " " << c.value;
        EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 1) << messages;
        EXPECT_NE(messages.find(key), std::string::npos) << messages;
        EXPECT_NE(messages.find(c.value), std::string::npos) << messages;
        EXPECT_EQ(KorvelInfo::MidiDevice, "/dev/midi7") << key << " " << c.value;
        KorvelInfo::MidiDevice = "/dev/midi";
    }

    // The limits themselves are accepted.
    std::string text = FileWith("BufferSize ", "BufferSize        = 65536");
    text.replace(text.find("44100"), 5, "384000");
    text.replace(text.find("= 50"), 4, "= 1");
    text.replace(text.find("Polyphony         = 1"), 21, "Polyphony         = 256");
    EXPECT_EQ(Load(text), "");
    EXPECT_EQ(KorvelInfo::BufferSize, KorvelInfo::MaxBufferSize);
    EXPECT_EQ(KorvelInfo::Samplerate, KorvelInfo::MaxSamplerate);
    EXPECT_EQ(KorvelInfo::FilterGranularity, 1);
    EXPECT_EQ(KorvelInfo::Polyphony, KorvelInfo::MaxPolyphony);
    EXPECT_EQ(Load(FileWith("Samplerate", "Samplerate        = 8000")), "");
    EXPECT_EQ(KorvelInfo::Samplerate, KorvelInfo::MinSamplerate);
}

TEST_F(KorvelInfoTest, OverlongKeyWordsAreSkippedSafely)
{
    std::string text = FileWith("BufferSize", std::string(300, 'B') + " " + std::string(1000, '=') + " 1024");
    text.replace(text.find("Samplerate        = 44100"), 25,
                 "Samplerate" + std::string(400, 'x') + " = 32000");
    EXPECT_EQ(Load(text), "");
    EXPECT_EQ(KorvelInfo::BufferSize, 1024);
    EXPECT_EQ(KorvelInfo::Samplerate, 32000);
    EXPECT_EQ(KorvelInfo::Polyphony, 1);
    EXPECT_EQ(KorvelInfo::OutputDevice, "/dev/dsp");
}

TEST_F(KorvelInfoTest, BadValuesStopTheReading)
{
    // A flag of 2 reads as true and fails the stream: later settings stay built in.
    std::string text = FileWith("WantMidi", "WantMidi          = 2");
    text.replace(text.find("= 50"), 4, "= 7");
    text.replace(text.find("/dev/dsp"), 8, "/dev/dsp9");
    EXPECT_EQ(Load(text), "");
    EXPECT_TRUE(KorvelInfo::WantMidi);
    EXPECT_EQ(KorvelInfo::FilterGranularity, 50);
    EXPECT_EQ(KorvelInfo::OutputDevice, "/dev/dsp");

    // A word where a number belongs keeps the built-in value, silently, and
    // nothing after it is read.
    KorvelInfo::WantMidi = false;
    text = FileWith("Samplerate", "Samplerate        = fast");
    text.replace(text.find("= 1\nPoly"), 3, "= 0");
    EXPECT_EQ(Load(text), "");
    EXPECT_EQ(KorvelInfo::Samplerate, 44100);
    EXPECT_TRUE(KorvelInfo::WantRealtimeOut);

    text = FileWith("WantRealtimeOut", "WantRealtimeOut   = yes");
    text.replace(text.find("Polyphony         = 1"), 21, "Polyphony         = 8");
    EXPECT_EQ(Load(text), "");
    EXPECT_TRUE(KorvelInfo::WantRealtimeOut);
    EXPECT_EQ(KorvelInfo::Polyphony, 1);
}

TEST_F(KorvelInfoTest, WithoutAHomeDirectoryTheBuiltInValuesStand)
{
    FixedHome nowhere("", false);
    HomeDirectory::SetCurrent(&nowhere);
    LoopsInfo info;
    testing::internal::CaptureStderr();
    info.LoadResourceFile();
    info.SaveResourceFile();
    std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 1) << messages;
    EXPECT_EQ(info.ResourceFilePath(), "");
    EXPECT_FALSE(FileExists("/.KorvelLoopsrc"));
    EXPECT_FALSE(FileExists(".KorvelLoopsrc"));
    ExpectDefaults();
}

TEST(HomeDirectoryTest, FallsBackToThePasswordDatabase)
{
    const char *set = std::getenv("HOME");
    std::string saved = set ? set : "";
    const passwd *entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    std::string accountHome = entry->pw_dir;

    HomeDirectory home;
    std::string path;
    setenv("HOME", "/somewhere/else", 1);
    EXPECT_TRUE(home.Find(path));
    EXPECT_EQ(path, "/somewhere/else");
    unsetenv("HOME");
    path.clear();
    EXPECT_TRUE(home.Find(path));
    EXPECT_EQ(path, accountHome);
    setenv("HOME", "", 1);
    path.clear();
    EXPECT_TRUE(home.Find(path));
    EXPECT_EQ(path, accountHome);

    if (set)
        setenv("HOME", saved.c_str(), 1);
    else
        unsetenv("HOME");
}

TEST(KorvelLoopsInfoTest, OneObjectNamesTheProgramsFile)
{
    KorvelLoopsInfo *info = KorvelLoopsInfo::Instance();
    EXPECT_EQ(KorvelLoopsInfo::Instance(), info);
    EXPECT_EQ(info->ResourceFilePath(), info->m_HomePath + "/.KorvelLoopsrc");
}
