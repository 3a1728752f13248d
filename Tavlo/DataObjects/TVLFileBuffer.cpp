#include "TVLFileBuffer.h"

#include "Halvex/Foundation/HVXSafeFile.h"

#include "TVLLineParser.h"
#include "TVLSession.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The mappings a bus error may come from, as address ranges a signal handler can read without
// locks. A mapping is only made when a slot is free; the others read into memory.
constexpr size_t kSlots = 16384;
struct Slot
{
    std::atomic<bool> used{false};
    std::atomic<uintptr_t> begin{0};
    std::atomic<uintptr_t> end{0};
};
Slot g_slots[kSlots];
std::atomic<size_t> g_slotsInUse{0};  // the highest slot ever used, plus one
std::atomic<qint64> g_cutMappings{0};
uintptr_t g_pageSize = 4096;
struct sigaction g_previousBusAction;

void onBusError(int signal, siginfo_t *info, void *context)
{
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    const size_t slotCount = g_slotsInUse.load(std::memory_order_acquire);
    for (size_t i = 0; i < slotCount; ++i) {
        const uintptr_t begin = g_slots[i].begin.load(std::memory_order_acquire);
        const uintptr_t end = g_slots[i].end.load(std::memory_order_acquire);
        if (begin == 0 || address < begin || address >= end)
            continue;
        // The file ends before this page now: from here on the buffer reads as zeros. The
        // mapping stays whole in size, so it is released as it was made.
        const uintptr_t page = address & ~(g_pageSize - 1);
        if (::mmap(reinterpret_cast<void *>(page), end - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0)
            != MAP_FAILED) {
            g_cutMappings.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        break;
    }
    // Not one of ours. A handler we put ourselves in front of may hand the fault back to us
    // (it saved ours when it came): the second time round the process ends as without us.
    static std::atomic<bool> forwarding{false};
    const bool previous = (g_previousBusAction.sa_flags & SA_SIGINFO) ? g_previousBusAction.sa_sigaction != nullptr
                                                                       : g_previousBusAction.sa_handler != SIG_DFL
                                                                             && g_previousBusAction.sa_handler != SIG_IGN;
    if (!previous || forwarding.exchange(true)) {
        // The faulting access runs again on return and ends the process.
        ::signal(signal, SIG_DFL);
        return;
    }
    if (g_previousBusAction.sa_flags & SA_SIGINFO)
        g_previousBusAction.sa_sigaction(signal, info, context);
    else
        g_previousBusAction.sa_handler(signal);
    forwarding.store(false);
}

// Installed with the first mapping, and again whenever a library has put its own handler in
// place since (that one then gets the faults that aren't ours).
void installBusErrorHandler()
{
    static std::mutex installing;
    const std::lock_guard lock(installing);
    struct sigaction current = {};
    ::sigaction(SIGBUS, nullptr, &current);
    if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == onBusError)
        return;
    g_pageSize = uintptr_t(::sysconf(_SC_PAGESIZE));
    struct sigaction action = {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &g_previousBusAction);
}

Slot *claimSlot(uintptr_t begin, uintptr_t end)
{
    for (size_t i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (!g_slots[i].used.compare_exchange_strong(expected, true))
            continue;
        g_slots[i].end.store(end, std::memory_order_release);
        g_slots[i].begin.store(begin, std::memory_order_release);
        size_t inUse = g_slotsInUse.load();
        while (inUse < i + 1 && !g_slotsInUse.compare_exchange_weak(inUse, i + 1)) {
        }
        return &g_slots[i];
    }
    return nullptr;
}

// A mapping and the buffer that looks at it; the buffer is handed out, this keeps it alive.
struct Mapping
{
    QByteArray bytes;
    void *base = nullptr;
    size_t length = 0;
    Slot *slot = nullptr;

    ~Mapping()
    {
        // No one reads the pages any longer, so no fault can come from them now.
        slot->begin.store(0, std::memory_order_release);
        slot->end.store(0, std::memory_order_release);
        slot->used.store(false, std::memory_order_release);
        ::munmap(base, length);
    }
};

uintptr_t roundUpToPage(uintptr_t size) { return (size + g_pageSize - 1) & ~(g_pageSize - 1); }

// [from, from + length) of the open file, mapped, followed by at least kPadding readable
// bytes: zeros in the last page of the file, or in anonymous pages reserved after it.
std::shared_ptr<const QByteArray> map(int fd, qsizetype from, qsizetype length)
{
    installBusErrorHandler();
    const qsizetype alignedFrom = from & ~qsizetype(g_pageSize - 1);
    const size_t lead = size_t(from - alignedFrom);
    const size_t total = roundUpToPage(lead + size_t(length) + size_t(TVLLineParser::kPadding));
    void *base = ::mmap(nullptr, total, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return nullptr;
    const size_t fileSpan = roundUpToPage(lead + size_t(length));
    if (::mmap(base, fileSpan, PROT_READ, MAP_SHARED | MAP_FIXED, fd, off_t(alignedFrom)) == MAP_FAILED) {
        ::munmap(base, total);
        return nullptr;
    }
    const auto begin = reinterpret_cast<uintptr_t>(base);
    Slot *slot = claimSlot(begin, begin + total);
    if (!slot) {
        ::munmap(base, total);
        return nullptr;
    }
    auto mapping = std::make_shared<Mapping>();
    mapping->base = base;
    mapping->length = total;
    mapping->slot = slot;
    // No access advice: the newest exchanges are found walking back from the end, and the page
    // comes back to lines anywhere later, so the pages are kept like any other.
    mapping->bytes = QByteArray::fromRawData(static_cast<const char *>(base) + lead, length);
    return std::shared_ptr<const QByteArray>(mapping, &mapping->bytes);
}

// Read into memory allocated at exactly the size to read: growing an empty array by resize()
// would round the block up to the next power of two and hold up to twice the transcript.
std::shared_ptr<const QByteArray> readIntoMemory(HVXSafeFile &file, qsizetype from, qsizetype length,
                                                 TVLReadProgress *progress, QString *error)
{
    // Read in steps when someone follows the read: a file not in the cache takes a while.
    constexpr qsizetype kReportedStep = qsizetype(16) << 20;
    qsizetype capacity = length + TVLLineParser::kPadding;
    auto buffer = std::make_shared<QByteArray>(capacity, Qt::Uninitialized);
    qsizetype filled = 0;
    auto failed = [&] {
        if (error)
            *error = file.errorString();
        return nullptr;
    };
    for (;;) {
        const qsizetype room = capacity - TVLLineParser::kPadding - filled;
        if (room == 0) {
            // The buffer holds the size the file had; grow only when it has become longer.
            char probe[4096];
            const qint64 more = file.read(probe, sizeof probe, from + filled);
            if (more < 0)
                return failed();
            if (more == 0)
                break;
            capacity = qMax(capacity * 2, filled + more + TVLLineParser::kPadding);
            buffer->resize(capacity);
            std::memcpy(buffer->data() + filled, probe, size_t(more));
            filled += more;
            continue;
        }
        const qint64 got = file.read(buffer->data() + filled, progress ? qMin(room, kReportedStep) : room, from + filled);
        if (got < 0)
            return failed();
        if (got == 0)
            break;
        filled += got;
        if (progress) {
            progress->readBytes.fetch_add(got, std::memory_order_relaxed);
            if (progress->cancelled.load(std::memory_order_relaxed))
                return nullptr;
        }
    }
    std::memset(buffer->data() + filled, 0, size_t(TVLLineParser::kPadding));
    buffer->resize(filled);  // keeps the allocation, and with it the padding
    return buffer;
}
} // namespace

std::shared_ptr<const QByteArray> TVLFileBuffer::read(const QString &path, qsizetype from, TVLReadProgress *progress,
                                                      QString *error, qint64 maxSize)
{
    HVXSafeFile file(path);
    if (!file.open(maxSize)) {
        if (error)
            *error = file.errorString();
        return nullptr;
    }
    return read(file, from, progress, error);
}

std::shared_ptr<const QByteArray> TVLFileBuffer::read(HVXSafeFile &file, qsizetype from, TVLReadProgress *progress,
                                                      QString *error)
{
    const qsizetype length = qMax<qsizetype>(qsizetype(file.size()) - from, 0);
    if (length >= kMappedFrom) {
        if (auto mapped = map(file.descriptor(), from, length)) {  // the mapping keeps the file
            if (progress)
                progress->readBytes.fetch_add(length, std::memory_order_relaxed);
            return mapped;
        }
    }
    return readIntoMemory(file, from, length, progress, error);
}

bool TVLFileBuffer::isMapped(const QByteArray &buffer)
{
    const auto address = reinterpret_cast<uintptr_t>(buffer.constData());
    const size_t slotCount = g_slotsInUse.load(std::memory_order_acquire);
    for (size_t i = 0; i < slotCount; ++i) {
        const uintptr_t begin = g_slots[i].begin.load(std::memory_order_acquire);
        if (begin != 0 && address >= begin && address < g_slots[i].end.load(std::memory_order_acquire))
            return true;
    }
    return false;
}

qint64 TVLFileBuffer::cutMappings() { return g_cutMappings.load(std::memory_order_relaxed); }
