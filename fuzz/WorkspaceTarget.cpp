#include "WorkspaceTarget.h"

#include "ErrorCapture.h"
#include "GUI/Fl_Trigger.h"
#include "GUI/LoopGUI.h"
#include "InputFile.h"
#include "KorvelInfo.h"
#include "Loop.h"
#include "LoopsApp.h"
#include "Workspace.h"

#include <FL/Fl.H>

#include <cmath>
#include <sstream>

namespace {

const int OldLength = 1000;

// One application serves every input: building its window for each would
// cost more than the loading itself.
LoopsApp *Application()
{
    static LoopsApp *app = nullptr;
    if (!app) {
        KorvelInfo::WantRealtimeOut = false;
        Output::Unpaced = true;
        app = new LoopsApp;
        app->CreateWindow();
    }
    return app;
}

void GiveSound(Loop *loop, int length)
{
    loop->AllocateMem(length);
    for (int i = 0; i < length; i++) loop->m_StoreBuffer.Set(i, static_cast<short>(i * 29 - 14000));
    loop->m_LoopLength = length;
}

std::string Check(LoopsApp *app, const char *after)
{
    std::ostringstream problem;
    for (auto &item : app->m_Loops) {
        Loop *loop = item.second->m_Loop;
        const int64_t total = loop->m_StoreBuffer.GetLength();
        if (item.first != loop->m_ID)
            problem << "loop under " << item.first << " has number " << loop->m_ID;
        else if (loop->m_LoopLength < 0 || loop->m_LoopLength > total)
            problem << "loop " << item.first << ": play length " << loop->m_LoopLength << " of " << total;
        else if (loop->m_HoldBuffer.GetLength() != total)
            problem << "loop " << item.first << ": hold buffer " << loop->m_HoldBuffer.GetLength() << " of " << total;
        else if (!(loop->m_Pos >= 0.0 && loop->m_Pos <= static_cast<double>(total)))
            problem << "loop " << item.first << ": position " << loop->m_Pos << " outside 0 to " << total;
        else if (!std::isfinite(loop->m_Speed) || !std::isfinite(loop->m_Volume))
            problem << "loop " << item.first << ": speed " << loop->m_Speed << ", volume " << loop->m_Volume;
        if (!problem.str().empty()) return std::string("after ") + after + ": " + problem.str();
    }
    if (app->m_NextID <= (app->m_Loops.empty() ? -1 : app->m_Loops.rbegin()->first))
        return std::string("after ") + after + ": next loop number not past the loops";
    return "";
}

} // namespace

bool WorkspaceTarget::WriteSeed(const std::string &path, int loops)
{
    LoopsApp *app = Application();
    app->ClearLoops();
    for (int i = 0; i < loops; i++) {
        app->NewLoop();
        Loop *loop = app->m_Loops.rbegin()->second->m_Loop;
        LoopGUI *panel = app->m_Loops.rbegin()->second->m_GUI;
        GiveSound(loop, 300 + 100 * i);
        loop->m_Speed = 0.5f + i;
        loop->SetPan(0.25f * i);
        loop->m_EffectsOn = i % 2 == 1;
        Fl_Trigger *marker = panel->NewTrigger();
        marker->m_Angle = 45.0f * (i + 1);
        marker->m_TargetID = app->m_Loops.begin()->first;
        marker->m_Count = i;
    }
    if (loops > 0) app->SetMaster(app->m_Loops.begin()->first, 300.0f, 0.5f);
    bool saved = Workspace::SaveTo(app, path);
    app->ClearLoops();
    return saved;
}

std::string WorkspaceTarget::Run(const uint8_t *data, size_t size)
{
    std::string problem = Load(data, size);
    // No loop window outlives the input.
    Application()->ClearLoops();
    Fl::check();
    return problem;
}

std::string WorkspaceTarget::Load(const uint8_t *data, size_t size)
{
    static InputFile input(".lws");
    if (!input.Write(data, size)) return "";
    LoopsApp *app = Application();

    // A performance is going on: one loop with a sound.
    app->ClearLoops();
    app->NewLoop();
    const int before = app->m_Loops.begin()->first;
    GiveSound(app->m_Loops.begin()->second->m_Loop, OldLength);

    bool loaded;
    int lines;
    std::string text;
    {
        ErrorCapture messages;
        loaded = Workspace::LoadFrom(app, input.Path());
        lines = messages.Lines();
        text = messages.Text();
    }
    if (!loaded) {
        if (app->m_Loops.size() != 1 || app->m_Loops.begin()->first != before ||
            app->m_Loops.begin()->second->m_Loop->m_StoreBuffer.GetLength() != OldLength)
            return "a refused workspace changed the loops";
        if (lines != 1) return "a refused workspace gave " + std::to_string(lines) + " lines: " + text;
        return "";
    }
    std::string problem = Check(app, "loading");
    if (!problem.empty()) return problem;

    // Play on: triggers fire, every loop renders, then a new loop is made.
    {
        ErrorCapture quiet;
        for (int cycle = 0; cycle < 4; cycle++) app->Run();
        problem = Check(app, "playing");
        if (problem.empty()) {
            app->NewLoop();
            problem = Check(app, "a new loop");
        }
    }
    return problem;
}
