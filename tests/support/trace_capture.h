// Receives every message the trace stand-in writes, and switches its levels, for tests that
// check what the component traces.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "engsys/exports.h"
#include "platform/module.h"
#include "platform/winapi.h"

namespace testing_support {

struct TraceMessage {
    DWORD component;
    DWORD sub;
    int level;
    std::string header;
    std::string format;
    std::string text;
    bool silent;
};

class TraceCapture {
  public:
    // Loads the trace stand-in (it is found beside the test program) and starts capturing.
    TraceCapture()
        : m_module(LoadLibraryA("bsttrace.dll")),
          m_setCapture(platform::proc_address<engsys::TraceSetCaptureFn>(m_module.get(),
                                                                         "bsttrace_SetCapture")),
          m_setLevels(platform::proc_address<engsys::TraceSetLevelsFn>(m_module.get(),
                                                                       "bsttrace_SetLevels")) {
        if (ready()) {
            m_setCapture(&TraceCapture::Receive, this);
        }
    }
    ~TraceCapture() {
        if (ready()) {
            m_setCapture(nullptr, nullptr);
        }
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    bool ready() const { return m_setCapture != nullptr && m_setLevels != nullptr; }
    // Switches levels on for (component, sub): bit n is level n.
    void levels(DWORD component, DWORD sub, DWORD mask) {
        if (ready()) {
            m_setLevels(component, sub, mask);
        }
    }

    std::vector<TraceMessage> messages() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_messages;
    }
    // The written (not silent) messages, or the silent ones.
    std::vector<TraceMessage> messages(bool silent) const {
        std::vector<TraceMessage> r;
        for (const TraceMessage& m : messages()) {
            if (m.silent == silent) {
                r.push_back(m);
            }
        }
        return r;
    }
    // The texts of every message, or of the written ones of one level.
    std::vector<std::string> texts(int level = -1) const {
        std::vector<std::string> r;
        for (const TraceMessage& m : messages()) {
            if (level < 0 || (m.level == level && !m.silent)) {
                r.push_back(m.text);
            }
        }
        return r;
    }
    void clear() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_messages.clear();
    }

  private:
    static void WINAPI Receive(void* context, DWORD component, DWORD sub, int level,
                               const char* header, const char* format, const char* text,
                               BOOL silent) {
        auto* self = static_cast<TraceCapture*>(context);
        std::lock_guard<std::mutex> guard(self->m_lock);
        self->m_messages.push_back({component, sub, level, header ? header : "",
                                    format ? format : "", text ? text : "", silent != FALSE});
    }

    platform::UniqueModule m_module;
    engsys::TraceSetCaptureFn m_setCapture;
    engsys::TraceSetLevelsFn m_setLevels;
    mutable std::mutex m_lock;
    std::vector<TraceMessage> m_messages;
};

}  // namespace testing_support
