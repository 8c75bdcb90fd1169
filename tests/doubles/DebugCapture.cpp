#include "doubles/DebugCapture.h"

#include "platform/DebugOutput.h"

DebugCapture::DebugCapture() { plat::SetDebugHook(&DebugCapture::Hook, this); }

DebugCapture::~DebugCapture() { plat::SetDebugHook(nullptr, nullptr); }

std::vector<std::string> DebugCapture::Lines()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_lines;
}

void DebugCapture::Hook(const char* text, void* user)
{
    auto* self = static_cast<DebugCapture*>(user);
    std::lock_guard<std::mutex> guard(self->m_mutex);
    self->m_lines.emplace_back(text);
}
