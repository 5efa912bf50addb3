#pragma once

#include <string_view>

namespace clipfile {

// The process's start-up and its standard streams.
class Console {
public:
    virtual ~Console() = default;

    // Start-up of the application framework; false ends the run with status 1.
    virtual bool InitializeFramework() = 0;
    virtual void WriteOutput(std::string_view text) = 0;
    virtual void WriteError(std::string_view text) = 0;
};

}  // namespace clipfile
