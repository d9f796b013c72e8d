#include "GUI/Question.h"

#include <FL/fl_ask.H>

namespace {

Question *s_Current = nullptr;

} // namespace

bool Question::Ask(const std::string &text, const char *yes, const char *no)
{
    // The default answer (Return) is the safe one.
    return fl_choice("%s", no, yes, nullptr, text.c_str()) == 1;
}

Question *Question::Current()
{
    static Question dialog;
    return s_Current ? s_Current : &dialog;
}

void Question::SetCurrent(Question *question)
{
    s_Current = question;
}
