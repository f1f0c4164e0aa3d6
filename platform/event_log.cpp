#include "platform/event_log.h"

#include <unistd.h>

#include <mutex>

#include "platform/descriptor_io.h"
#include "platform/event_log_testing.h"
#include "platform/text.h"

namespace plat {
namespace {

struct EventLog {
    std::mutex lock;
    bool collecting = false;
    std::vector<std::wstring> lines;
};

EventLog& eventLog()
{
    static EventLog* log = new EventLog;
    return *log;
}

} // namespace

void reportEvent(const std::wstring& source, const std::wstring& message)
{
    std::wstring line = source + L": " + message;
    for (wchar_t& ch : line)
        if (ch == L'\n' || ch == L'\r')
            ch = L' ';
    EventLog& log = eventLog();
    std::lock_guard<std::mutex> held(log.lock);
    if (log.collecting) {
        log.lines.push_back(std::move(line));
        return;
    }
    // One write per line, so that lines of several threads do not mix.
    const std::string text = utf8FromWide(line) + '\n';
    (void)detail::writeAll(STDERR_FILENO, text.data(), text.size()); // nowhere else to report a failure
}

void collectEventLines(bool collect)
{
    EventLog& log = eventLog();
    std::lock_guard<std::mutex> held(log.lock);
    log.collecting = collect;
}

std::vector<std::wstring> takeEventLines()
{
    EventLog& log = eventLog();
    std::lock_guard<std::mutex> held(log.lock);
    std::vector<std::wstring> lines;
    lines.swap(log.lines);
    return lines;
}

} // namespace plat
