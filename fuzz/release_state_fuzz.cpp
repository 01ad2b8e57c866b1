// Fuzz target: the state file of the previous release, read back from the disk. Property: whatever
// the bytes, a state that parses holds only paths inside the program folder, and writes back to a
// text that parses to the same state.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "update/release_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string problem;
    const auto state = tovi::release::parseState(text, problem);
    if (!state) {
        if (problem.empty()) std::abort();
        return 0;
    }
    for (const auto* list : {&state->replaced, &state->added}) {
        for (const auto& p : *list) {
            if (p.find_first_of("\\:") != p.npos) std::abort();
            for (std::size_t i = 0, next; i <= p.size(); i = next + 1) {
                next = std::min(p.find('/', i), p.size());
                const std::string_view part(p.data() + i, next - i);
                if (part.empty() || part == "." || part == "..") std::abort();
            }
        }
    }
    std::string again;
    if (tovi::release::parseState(tovi::release::stateText(*state), again) != state) std::abort();
    return 0;
}
