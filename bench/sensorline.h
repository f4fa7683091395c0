#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

/// How the bytes of a steady stream reach the line: every \a tickNs the readings whose time has
/// come, in writes of at most \a bytesPerWrite bytes (0: all of them in one write). A tick of 0
/// is each reading's own time.
struct DeliveryProfile
{
    const char *name;
    const char *description;
    double tickNs;
    qint64 bytesPerWrite;

    /// byte, usb-1ms, uart-fifo and usb-16ms, at the sensor's 3840 readings a second.
    static const std::vector<DeliveryProfile> &all();
    /// The profile called \a name; null when there is none.
    static const DeliveryProfile *named(const QString &name);
};

/// The sensor: a thread that writes \a count readings into the line. Paced at \a rate readings a
/// second and delivered as \a profile says; or, with \a spells, one at a time after quiet spells
/// of 100 to 200 ms; or, at rate 0, as fast as the line takes them. Reading i is byteAt(i);
/// consecutive readings always differ.
class LineWriter
{
public:
    struct Plan
    {
        double rate = 0;
        qint64 count = 0;
        DeliveryProfile profile {"byte", "", 0, 1};
        bool spells = false;
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

    /// When reading \a index was written (just before the write call that carried it); 0 if not
    /// yet.
    qint64 stampNs(qint64 index) const
    {
        return m_stamps[size_t(index)].load(std::memory_order_acquire);
    }
    bool failed() const { return m_failed; }

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
    /// The same for the serial control's reader thread; -1 when the subject has none.
    qint64 readerSwitchesInWindow() const
    {
        return m_readerSwitchesAtStart < 0 ? -1 : m_readerSwitchesAtEnd - m_readerSwitchesAtStart;
    }

private:
    void run();
    void paced();
    void spells();
    void flood();
    /// Writes readings [first, first + count) in writes of at most \a perWrite bytes.
    bool writeReadings(qint64 first, qint64 count, qint64 perWrite);
    bool writeAll(const char *data, qint64 size);
    void markWindowStart();

    int m_master;
    Plan m_plan;
    std::unique_ptr<std::atomic<qint64>[]> m_stamps;
    std::thread m_thread;
    bool m_failed = false;
    qint64 m_windowStartNs = 0;
    qint64 m_windowEndNs = 0;
    qint64 m_processCpuAtStart = 0;
    qint64 m_processCpuAtEnd = 0;
    qint64 m_writerCpuAtStart = 0;
    qint64 m_writerCpuAtEnd = 0;
    qint64 m_switchesAtStart = 0;
    qint64 m_switchesAtEnd = 0;
    qint64 m_readerSwitchesAtStart = -1;
    qint64 m_readerSwitchesAtEnd = -1;
};
