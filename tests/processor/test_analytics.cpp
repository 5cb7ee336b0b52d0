// The usage-statistics request: its exact text as a loopback listener of the test receives it, one
// request per opening, escaped figures, and an answer that never ends, which must not hold up
// closing the editor.
#include <csignal>
#include <filesystem>
#include <thread>

#include "ProcessorTestSupport.h"
#include "processor/AnalyticsThread.h"

namespace
{
class Analytics : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ::unsetenv("http_proxy");      // JUCE's client would send everything to a proxy
        std::signal(SIGPIPE, SIG_IGN); // writing to a client that hung up fails instead
        ASSERT_TRUE(listener.createListener(0, "127.0.0.1"));
    }
    juce::String host() const { return "127.0.0.1:" + juce::String(listener.getBoundPort()); }
    // The head of the next request (waiting a generous while, so that a broken client fails the
    // test instead of hanging it).
    std::string accept()
    {
        std::string head;
        if (listener.waitUntilReady(true, 20000) != 1) return head;
        client.reset(listener.waitForNextConnection());
        char c = 0;
        while (head.find("\r\n\r\n") == std::string::npos && client->waitUntilReady(true, 20000) == 1 &&
               client->read(&c, 1, false) == 1)
            head += c;
        return head;
    }
    bool send(const std::string& s) { return client->write(s.data(), int(s.size())) == int(s.size()); }

    juce::StreamingSocket listener;
    std::unique_ptr<juce::StreamingSocket> client;
};

TEST_F(Analytics, EachOpeningSendsOneRequestWithTheCurrentFiguresEscaped)
{
    auto first = std::make_unique<PluginProcessor>();
    auto second = std::make_unique<PluginProcessor>();
    second->setRateAndBufferSizeDetails(48000.0, 256);
    // The host program: this test executable, lower case.
    const juce::String program = std::filesystem::read_symlink("/proc/self/exe").filename().string();
    for (int seconds : {12, 75}) // audio was rendered in between
    {
        gOnSeconds = seconds + 0.9;
        AnalyticsThread thread(second.get(), host());
        EXPECT_EQ(thread.getThreadName(), "Analytics Thread");
        thread.startThread();
        const std::string head = accept();
        EXPECT_EQ(head.substr(0, head.find("\r\n")),
                  "GET /piwik/piwik.php?idsite=1&rec=1&bots=1&dimension1=" + program.toLowerCase() +
                      "&dimension2=64&dimension3=2&dimension4=" + juce::String(seconds) +
                      "&dimension5=48000 HTTP/1.1");
        EXPECT_NE(head.find(("\r\nHost: " + host() + "\r\n").toStdString()), std::string::npos);
        EXPECT_TRUE(send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok"));
        EXPECT_TRUE(thread.waitForThreadToExit(20000));
        EXPECT_FALSE(thread.busy);
        EXPECT_EQ(listener.waitUntilReady(true, 0), 0); // no second request
    }
    // Each figure is one escaped query parameter.
    const AnalyticsFigures f{"my host&evil=1 x.exe", 3, 7, 96000};
    EXPECT_EQ(AnalyticsThread::makeRequestUrl("example.invalid:8080", f).toString(true),
              "http://example.invalid:8080/piwik/piwik.php?idsite=1&rec=1&bots=1"
              "&dimension1=my%20host%26evil%3D1%20x.exe&dimension2=64&dimension3=3&dimension4=7"
              "&dimension5=96000");
}

TEST_F(Analytics, ClosingDuringANeverEndingAnswerCancelsIt)
{
    auto p = std::make_unique<PluginProcessor>();
    auto thread = std::make_unique<AnalyticsThread>(p.get(), host());
    thread->startThread();
    ASSERT_FALSE(accept().empty());
    EXPECT_TRUE(thread->busy);
    // The body never ends and never pauses long enough for a read to time out: only cancelling ends
    // the request within the bounded wait.
    ASSERT_TRUE(send("HTTP/1.1 200 OK\r\nContent-Length: 1000000000\r\n\r\n"));
    bool stopped = false;
    std::thread closing([&] { stopped = thread->stop(); });
    // Until the client hangs up.
    while (send("x"))
        juce::Thread::sleep(20);
    closing.join();
    EXPECT_TRUE(stopped);
}
} // namespace
