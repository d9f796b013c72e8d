#ifndef APP_TEST_FIXTURE_H
#define APP_TEST_FIXTURE_H

#include "KorvelInfo.h"
#include "LoopsApp.h"

#include <gtest/gtest.h>

#include <memory>

class Loop;
class LoopGUI;

// An application with its main window built and no sound device: blocks go
// nowhere but stay in the output buffer for the test to read, and the cycle
// runs as fast as it goes.
class AppTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    Loop *LoopAt(int id);
    LoopGUI *PanelAt(int id);
    // Gives loop id a sound of length samples, each value produced by make(i).
    template <typename Make> void FillLoop(int id, int length, Make make);
    short Left(int frame) const { return m_App->m_Output.m_Buffer.m_Data[2 * frame]; }
    short Right(int frame) const { return m_App->m_Output.m_Buffer.m_Data[2 * frame + 1]; }

    std::unique_ptr<LoopsApp> m_App;
    bool m_SavedRealtime = true;
};

#include "Loop.h"

template <typename Make> void AppTest::FillLoop(int id, int length, Make make)
{
    Loop *loop = LoopAt(id);
    loop->AllocateMem(length);
    for (int i = 0; i < length; i++) loop->m_StoreBuffer.Set(i, static_cast<short>(make(i)));
    loop->m_LoopLength = length;
}

#endif
