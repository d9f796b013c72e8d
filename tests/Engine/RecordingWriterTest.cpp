#include "Engine/AudioThread.h"
#include "Engine/RecordingWriter.h"
#include "KorvelSound/Sample.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// A disk that stops taking data: the writer hangs on a pipe nobody reads.
// The cycle goes on pushing on the audio thread (where any allocation would
// abort a checked build); what does not fit is dropped and counted, what
// fits arrives whole and in order, and Close says so once.
TEST(RecordingWriterTest, AStalledDiskCostsBlocksNeverTheCycleAndTheRestArrivesInOrder)
{
    TempDir dir;
    const std::string path = dir.File("stalled");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    std::atomic<bool> drain{false};
    std::string received;
    std::thread disk([&] {
        int fd = open(path.c_str(), O_RDONLY);
        while (!drain)
            std::this_thread::yield();
        char bytes[65536];
        for (ssize_t got; (got = read(fd, bytes, sizeof bytes)) > 0;)
            received.append(bytes, got);
        close(fd);
    });
    const int values = 64;
    RecordingWriter writer;
    // Were it not opened, the reader would wait for a writer for ever.
    if (!writer.Open(path, WavFile::STEREO, values)) close(open(path.c_str(), O_WRONLY));
    EXPECT_TRUE(writer.IsOpen());
    Sample block(values);
    block.Zero();
    const int pushed = 20000;
    {
        AudioThread::Scope cycle;
        for (int i = 0; i < pushed; i++) {
            block.Set(0, static_cast<short>(i));
            writer.Push(block);
        }
    }
    EXPECT_GT(writer.Dropped(), 0); // and on: the writer waits for the reader
    drain = true;
    testing::internal::CaptureStderr();
    writer.Close(); // a pipe cannot take the header's sizes
    disk.join();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Recording: " + std::to_string(writer.Dropped()) +
                                                          " blocks were dropped, the disk did not keep up [" +
                                                          path + "]\nWavFile: Write error [" + path + "]\n");
    const size_t blockBytes = values * sizeof(short);
    ASSERT_EQ(received.size(), 44 + (pushed - writer.Dropped()) * blockBytes);
    int last = -1, disorder = 0;
    for (size_t at = 44; at < received.size(); at += blockBytes) {
        const int number =
            static_cast<unsigned char>(received[at]) | static_cast<unsigned char>(received[at + 1]) << 8;
        if (number <= last) disorder++;
        last = number;
    }
    EXPECT_EQ(disorder, 0);
    EXPECT_FALSE(writer.IsOpen());
}
