#include "cli_options.h"

#include <cmath>
#include <string>

#include "document/document_validation.h"
#include "tools/uniform_random.h"

namespace tarrowin::cli {

CLI::Validator finiteRange(double low, double high) {
    const std::string range = formatNumber(low) + ".." + formatNumber(high);
    return CLI::Validator(
        [low, high, range](std::string& text) -> std::string {
            double value = 0;
            if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value)) return text + " is not a number";
            if (value < low || value > high) return text + " is outside " + range;
            return {};
        },
        "NUMBER in " + range);
}

CLI::Option* addSeedOption(CLI::App* cmd, std::optional<int64_t>& seed, const std::string& help) {
    return cmd->add_option("--seed", seed, help)->check(CLI::Range(int64_t{1}, UniformRandom::kMaxSeed));
}

CLI::Option* addRunSeedOption(CLI::App* cmd, std::optional<int64_t>& seed) {
    return addSeedOption(cmd, seed,
                         "Seed of the \"Random\" modulation's run lengths: one seed always gives the same result "
                         "(default: different on every run)");
}

}  // namespace tarrowin::cli
