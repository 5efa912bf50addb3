#include "x11/x11_targets.h"

namespace clipfile::x11 {

int RankIn(std::span<const char* const> names, std::string_view name) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (name == names[i]) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool IsProtocolTarget(std::string_view name) {
    static constexpr const char* kProtocol[] = {"TARGETS", "TIMESTAMP", "MULTIPLE", "SAVE_TARGETS",
                                                "DELETE"};
    return RankIn(kProtocol, name) >= 0 || name.starts_with("INSERT_");
}

}  // namespace clipfile::x11
