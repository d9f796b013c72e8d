#include "AppTestFixture.h"

#include "GUI/LoopGUI.h"

#include <FL/Fl.H>

void AppTest::SetUp()
{
    m_SavedRealtime = KorvelInfo::WantRealtimeOut;
    KorvelInfo::WantRealtimeOut = false;
    Output::Unpaced = true;
    m_App.reset(new LoopsApp);
    m_App->CreateWindow();
}

void AppTest::TearDown()
{
    m_App.reset();
    Fl::check();
    KorvelInfo::WantRealtimeOut = m_SavedRealtime;
    Output::Unpaced = false;
}

Loop *AppTest::LoopAt(int id)
{
    return m_App->m_Loops.at(id)->m_Loop;
}

LoopGUI *AppTest::PanelAt(int id)
{
    return m_App->m_Loops.at(id)->m_GUI;
}
