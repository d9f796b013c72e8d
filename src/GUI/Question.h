#ifndef QUESTION_H
#define QUESTION_H

#include <string>

// A yes-or-no question put to the performer in a small dialog (the sound
// goes on meanwhile); tests stand in for it.
class Question
{
public:
    virtual ~Question() = default;
    // True for yes.
    virtual bool Ask(const std::string &text, const char *yes, const char *no);

    static Question *Current();
    static void SetCurrent(Question *question);
};

#endif
