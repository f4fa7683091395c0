#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <memory>
#include <thread>

/// The sensor: a thread that writes \a count readings into the line, paced at \a rate readings a
/// second or, at rate 0, as fast as the line takes them. Reading i is byteAt(i); consecutive
/// readings always differ, so every reading changes the temperature text.
class LineWriter
{
public:
    struct Plan
    {
        double rate = 0;
        qint64 count = 0;
        /// The reading at which the measured window starts; CPU is read just before it.
        qint64 measureFrom = 0;
        /// Whether to keep the time each reading was written.
        bool stamp = false;
    };

    static quint8 byteAt(qint64 index) { return quint8(index * 37 + 11); }

    LineWriter(int masterFd, Plan plan);
    ~LineWriter();
    LineWriter(const LineWriter &) = delete;
    LineWriter &operator=(const LineWriter &) = delete;

    void start();
    void join();

    /// When reading \a index was written (just before the write call); 0 if not yet.
    qint64 stampNs(qint64 index) const
    {
        return m_stamps[size_t(index)].load(std::memory_order_acquire);
    }
    bool failed() const { return m_failed; }
    qint64 startNs() const { return m_startNs; }

    /// Readings of the measured window: process CPU and this thread's CPU at its start and end
    /// (the end after the last write).
    qint64 windowStartNs() const { return m_windowStartNs; }
    qint64 windowEndNs() const { return m_windowEndNs; }
    qint64 processCpuAtStart() const { return m_processCpuAtStart; }
    qint64 processCpuAtEnd() const { return m_processCpuAtEnd; }
    /// The writer's own CPU time within the window, and in all.
    qint64 writerCpuInWindow() const { return m_writerCpuAtEnd - m_writerCpuAtStart; }
    qint64 writerCpuTotal() const { return m_writerCpuAtEnd; }
    /// Context switches of the process's main thread within the window: how often it slept and
    /// was woken.
    qint64 mainThreadSwitchesInWindow() const { return m_switchesAtEnd - m_switchesAtStart; }

private:
    void run();
    void paced();
    void flood();
    bool writeAll(const char *data, qint64 size);
    void markWindowStart();

    int m_master;
    Plan m_plan;
    std::unique_ptr<std::atomic<qint64>[]> m_stamps;
    std::thread m_thread;
    bool m_failed = false;
    qint64 m_startNs = 0;
    qint64 m_windowStartNs = 0;
    qint64 m_windowEndNs = 0;
    qint64 m_processCpuAtStart = 0;
    qint64 m_processCpuAtEnd = 0;
    qint64 m_writerCpuAtStart = 0;
    qint64 m_writerCpuAtEnd = 0;
    qint64 m_switchesAtStart = 0;
    qint64 m_switchesAtEnd = 0;
};
