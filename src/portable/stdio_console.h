#pragma once

#include <string_view>

#include "platform/console.h"

namespace clipfile {

// The C runtime's standard streams; nothing to start up.
class StdioConsole final : public Console {
public:
    bool InitializeFramework() override { return true; }
    void WriteOutput(std::string_view text) override;
    void WriteError(std::string_view text) override;
};

}  // namespace clipfile
