#include "processor/AnalyticsThread.h"

#include "processor/PluginProcessor.h"

AnalyticsThread::AnalyticsThread(PluginProcessor* p, juce::String endpointHost)
    : juce::Thread("Analytics Thread"), processor(p), host(std::move(endpointHost))
{
}

AnalyticsThread::~AnalyticsThread()
{
    // The cancelled request returns promptly; should the wait still run out, keep waiting rather
    // than kill a thread that may hold the socket and the heap's locks.
    if (!stop()) waitForThreadToExit(-1);
}

bool AnalyticsThread::stop()
{
    const int patienceMs = busy.load() ? kAnalyticsStopBusyMs : kAnalyticsStopIdleMs;
    signalThreadShouldExit();
    {
        const std::lock_guard<std::mutex> lock(streamLock);
        if (stream != nullptr) stream->cancel();
    }
    return waitForThreadToExit(patienceMs);
}

AnalyticsFigures AnalyticsThread::collectFigures(const PluginProcessor* p)
{
    AnalyticsFigures f;
    f.hostApplication =
        juce::File::getSpecialLocation(juce::File::hostApplicationPath).getFileName().toLowerCase();
    f.instances = gNumInstances.load();
    f.secondsRendered = static_cast<int>(gOnSeconds.load());
    f.sampleRate = p != nullptr ? static_cast<int>(p->getSampleRate()) : 0;
    return f;
}

juce::URL AnalyticsThread::makeRequestUrl(const juce::String& endpointHost, const AnalyticsFigures& f)
{
    return juce::URL("http://" + endpointHost + kAnalyticsPath)
        .withParameter("idsite", "1")
        .withParameter("rec", "1")
        .withParameter("bots", "1")
        .withParameter("dimension1", f.hostApplication)
        .withParameter("dimension2", "64")
        .withParameter("dimension3", juce::String(f.instances))
        .withParameter("dimension4", juce::String(f.secondsRendered))
        .withParameter("dimension5", juce::String(f.sampleRate));
}

void AnalyticsThread::run()
{
    busy = true;
    if (host.isNotEmpty())
    {
        const juce::URL url = makeRequestUrl(host, collectFigures(processor));
        juce::WebInputStream* request = nullptr;
        {
            const std::lock_guard<std::mutex> lock(streamLock);
            if (!threadShouldExit())
            {
                stream = std::make_unique<juce::WebInputStream>(url, false);
                stream->withConnectionTimeout(kAnalyticsTimeoutMs)
                    .withNumRedirectsToFollow(kAnalyticsMaxRedirects);
                request = stream.get();
            }
        }
        // Outside the lock: the destructor must be able to cancel while this blocks.
        if (request != nullptr && request->connect(nullptr)) request->readEntireStreamAsString();
        const std::lock_guard<std::mutex> lock(streamLock);
        stream.reset();
    }
    busy = false;
}
