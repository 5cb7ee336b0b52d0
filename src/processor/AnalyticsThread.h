#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include <juce_core/juce_core.h>

class PluginProcessor;

#ifndef QM_ANALYTICS_HOST
#define QM_ANALYTICS_HOST ""
#endif

// Host ("name" or "name:port") of the usage-statistics endpoint, fixed at build time. Empty: no
// request is ever sent.
inline constexpr const char* kAnalyticsHost = QM_ANALYTICS_HOST;
inline constexpr const char* kAnalyticsPath = "/piwik/piwik.php";
// The request gives up after this long without an answer...
inline constexpr int kAnalyticsTimeoutMs = 5000;
inline constexpr int kAnalyticsMaxRedirects = 5;
// ...and closing the editor waits at most this long for a request under way, otherwise this long.
inline constexpr int kAnalyticsStopBusyMs = 5500;
inline constexpr int kAnalyticsStopIdleMs = 100;

// The usage figures one request reports.
struct AnalyticsFigures
{
    juce::String hostApplication; // file name of the host program, lower case
    int instances = 0;            // live processors
    int secondsRendered = 0;      // whole seconds of audio rendered in this process
    int sampleRate = 0;           // the processor's current sample rate, whole hertz
};

// Sends one usage-statistics request (a plain HTTP GET) on its own thread; the editor makes and starts
// one each time it is opened and deletes it when it closes. The reply is read and thrown away.
//
// Deleting it while the request is under way cancels the request (the connection is closed from the
// deleting thread), so the thread always ends by itself and is never killed in the middle of network
// work.
class AnalyticsThread : public juce::Thread
{
  public:
    explicit AnalyticsThread(PluginProcessor* processor, juce::String endpointHost = kAnalyticsHost);
    ~AnalyticsThread() override;

    void run() override;

    // Asks the thread to end and cancels a request under way, then waits for it: at most the busy or
    // idle patience. True when the thread has ended within that wait.
    bool stop();

    // The figures for processor at this moment (process-wide counters and its sample rate).
    static AnalyticsFigures collectFigures(const PluginProcessor* processor);
    // The request for figures at host; each figure is one escaped query parameter.
    static juce::URL makeRequestUrl(const juce::String& host, const AnalyticsFigures& figures);

    // True while run() is under way.
    std::atomic<bool> busy{false};

  private:
    PluginProcessor* processor;
    const juce::String host;
    std::mutex streamLock; // guards stream between run() and the destructor's cancel
    std::unique_ptr<juce::WebInputStream> stream;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(AnalyticsThread)
};
