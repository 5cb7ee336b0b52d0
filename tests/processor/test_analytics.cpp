// The usage-statistics request: its exact text on a loopback server run by the test, one request per
// thread, escaped figures, and a stalled server that must not hold up closing the editor.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ProcessorTestSupport.h"
#include "processor/AnalyticsThread.h"
#include "processor/PluginProcessor.h"

namespace
{
// A one-connection-at-a-time HTTP server on 127.0.0.1. It records each request's head; it answers
// with a short reply, or (stalled) never answers and waits for the client to hang up.
class LoopbackServer
{
  public:
    explicit LoopbackServer(bool answer) : answers(answer)
    {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        const int one = 1;
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener, 4) != 0)
            return;
        socklen_t len = sizeof addr;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
        worker = std::thread([this] { serve(); });
    }

    ~LoopbackServer()
    {
        stopping = true;
        if (worker.joinable()) worker.join();
        ::close(listener);
    }

    juce::String host() const { return "127.0.0.1:" + juce::String(port); }

    // Waits (at most a generous while, so a broken client fails the test instead of hanging it) for
    // n request heads.
    std::vector<std::string> waitForRequests(size_t n)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(20), [&] { return requests.size() >= n; });
        return requests;
    }

    bool waitForHangUp()
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(20), [&] { return clientHungUp; });
        return clientHungUp;
    }

    int port = 0;

  private:
    // Polls in short steps so that the destructor is never kept waiting.
    bool readable(int fd)
    {
        pollfd p{fd, POLLIN, 0};
        while (!stopping)
            if (::poll(&p, 1, 20) > 0) return true;
        return false;
    }

    void serve()
    {
        while (readable(listener))
        {
            const int client = ::accept(listener, nullptr, nullptr);
            if (client < 0) continue;
            std::string head;
            char buf[1024];
            while (head.find("\r\n\r\n") == std::string::npos && readable(client))
            {
                const ssize_t n = ::recv(client, buf, sizeof buf, 0);
                if (n <= 0) break;
                head.append(buf, static_cast<size_t>(n));
            }
            {
                const std::lock_guard<std::mutex> lock(mutex);
                requests.push_back(head);
            }
            changed.notify_all();
            if (answers)
            {
                const std::string reply =
                    "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
                ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
            }
            else
            {
                // Say nothing; wait for the client to give up.
                while (readable(client))
                    if (::recv(client, buf, sizeof buf, 0) <= 0) break;
                {
                    const std::lock_guard<std::mutex> lock(mutex);
                    clientHungUp = !stopping;
                }
                changed.notify_all();
            }
            ::close(client);
        }
    }

    const bool answers;
    int listener = -1;
    std::atomic<bool> stopping{false};
    std::thread worker;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> requests;
    bool clientHungUp = false;
};

std::string requestLine(const std::string& head)
{
    return head.substr(0, head.find("\r\n"));
}

// What the request reports as the host program: this test executable.
std::string programName()
{
    std::string name = std::filesystem::read_symlink("/proc/self/exe").filename().string();
    for (auto& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

class Analytics : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        // JUCE's client would send everything to a proxy.
        ::unsetenv("http_proxy");
        qmproc::clearLibrary();
        savedSeconds = gOnSeconds.load();
    }
    void TearDown() override { gOnSeconds = savedSeconds; }

    // Runs one request to completion, as one editor opening does.
    static void runOnce(PluginProcessor* p, const juce::String& host)
    {
        AnalyticsThread thread(p, host);
        EXPECT_EQ(thread.getThreadName(), "Analytics Thread");
        EXPECT_FALSE(thread.busy);
        thread.startThread();
        EXPECT_TRUE(thread.waitForThreadToExit(20000));
        EXPECT_FALSE(thread.busy);
    }

    double savedSeconds = 0.0;
};

TEST_F(Analytics, RequestCarriesTheFiguresAsQueryParameters)
{
    LoopbackServer server(true);
    ASSERT_NE(server.port, 0);
    auto p = std::make_unique<PluginProcessor>();
    p->setRateAndBufferSizeDetails(44100.0, 512);
    gOnSeconds = 12.9;
    const int instances = gNumInstances.load();

    runOnce(p.get(), server.host());
    const auto requests = server.waitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requestLine(requests[0]),
              "GET /piwik/piwik.php?idsite=1&rec=1&bots=1&dimension1=" + programName() +
                  "&dimension2=64&dimension3=" + std::to_string(instances) +
                  "&dimension4=12&dimension5=44100 HTTP/1.1");
    EXPECT_NE(requests[0].find("\r\nHost: " + server.host().toStdString() + "\r\n"), std::string::npos);
}

TEST_F(Analytics, EachOpeningSendsOneRequestWithTheCurrentFigures)
{
    LoopbackServer server(true);
    auto first = std::make_unique<PluginProcessor>();
    auto second = std::make_unique<PluginProcessor>();
    second->setRateAndBufferSizeDetails(48000.0, 256);
    ASSERT_EQ(gNumInstances.load(), 2);
    gOnSeconds = 0.0;

    runOnce(second.get(), server.host());
    gOnSeconds = 75.5; // audio was rendered in between
    runOnce(second.get(), server.host());
    const auto requests = server.waitForRequests(2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requestLine(requests[0]).find("&dimension3=2&dimension4=0&dimension5=48000 "),
              std::string::npos)
        << requests[0];
    EXPECT_NE(requestLine(requests[1]).find("&dimension3=2&dimension4=75&dimension5=48000 "),
              std::string::npos)
        << requests[1];
}

TEST_F(Analytics, FiguresAreEscaped)
{
    AnalyticsFigures f;
    f.hostApplication = "my host&evil=1 x.exe";
    f.instances = 3;
    f.secondsRendered = 7;
    f.sampleRate = 96000;
    const juce::URL url = AnalyticsThread::makeRequestUrl("example.invalid:8080", f);
    EXPECT_EQ(url.toString(true), "http://example.invalid:8080/piwik/piwik.php?idsite=1&rec=1&bots=1"
                                  "&dimension1=my%20host%26evil%3D1%20x.exe&dimension2=64&dimension3=3"
                                  "&dimension4=7&dimension5=96000");
}

TEST_F(Analytics, EmptyHostSendsNothing)
{
    auto p = std::make_unique<PluginProcessor>();
    runOnce(p.get(), "");
    // Never started at all, it goes as quietly.
    AnalyticsThread idle(p.get(), "");
}

TEST_F(Analytics, ClosingDuringAStalledRequestCancelsIt)
{
    LoopbackServer server(false);
    auto p = std::make_unique<PluginProcessor>();
    auto thread = std::make_unique<AnalyticsThread>(p.get(), server.host());
    thread->startThread();
    ASSERT_EQ(server.waitForRequests(1).size(), 1u);
    EXPECT_TRUE(thread->busy);

    const auto start = std::chrono::steady_clock::now();
    thread.reset();
    const auto waited = std::chrono::steady_clock::now() - start;
    // The editor's closing may wait for the request at most 5.5 s; cancelling ends it well before.
    EXPECT_LT(waited, std::chrono::milliseconds(kAnalyticsStopBusyMs));
    // The thread ended by itself and closed its connection.
    EXPECT_TRUE(server.waitForHangUp());
}
} // namespace
