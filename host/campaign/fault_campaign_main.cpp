// A randomized fault campaign: for each seed a plan of meters, faults and
// timing is drawn, the real bench_host polls the simulated line with it
// (loading the built qvt7702.so), and what it stored, counted and printed
// is checked against what the simulated line sent.
#include "BenchError.h"
#include "CampaignPlan.h"
#include "CampaignRunner.h"

#include <boost/program_options.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace po = boost::program_options;

namespace {

struct Command {
    CampaignTools tools{CAMPAIGN_BENCH_HOST, CAMPAIGN_PLUGIN, CAMPAIGN_EXAMPLES};
    std::vector<std::uint64_t> range;  // FIRST [LAST]
    std::vector<std::uint64_t> seeds;
    std::vector<std::string> cases;
    bool all_cases = false;
    bool covering_seeds = false;
    bool plan_only = false;
    bool keep = false;
    int attempts = 3;
    std::string scratch;
    bool help = false;
};

po::options_description Describe(Command& command) {
    po::options_description described("Options");
    described.add_options()
        ("help,h", po::bool_switch(&command.help), "show this help")
        ("seed", po::value(&command.seeds)->value_name("N"), "run the plan of seed N; may be repeated")
        ("covering-seeds", po::bool_switch(&command.covering_seeds),
         "run the seeds whose plans together carry every fault kind and line fault")
        ("case", po::value(&command.cases)->value_name("NAME"),
         "run a known case of the line's troubles; may be repeated")
        ("all-cases", po::bool_switch(&command.all_cases), "run every known case")
        ("plan-only", po::bool_switch(&command.plan_only), "print the plans, run nothing")
        ("attempts", po::value(&command.attempts)->value_name("N"),
         "runs of a plan whose only finding is more exchanges lost than its faults may cost, "
         "which the machine's load can cause (default 3)")
        ("scratch", po::value(&command.scratch)->value_name("DIR"),
         "folder for the runs' files (default: a new one in the temporary folder)")
        ("keep", po::bool_switch(&command.keep),
         "keep every run's files (a failed run's are always kept)")
        ("bench-host", po::value(&command.tools.bench_host)->value_name("FILE"),
         "the bench_host to run (default: the build's)")
        ("plugin", po::value(&command.tools.plugin)->value_name("FILE"),
         "the plug-in it loads (default: the build's qvt7702.so)")
        ("examples", po::value(&command.tools.examples)->value_name("DIR"),
         "the example settings (default: the checkout's examples/)");
    return described;
}

Command Parse(int argc, char** argv) {
    Command command;
    po::options_description described = Describe(command);
    po::options_description hidden;
    hidden.add_options()("range", po::value(&command.range));
    po::options_description all;
    all.add(described).add(hidden);
    po::positional_options_description positional;
    positional.add("range", 2);
    po::variables_map given;
    po::store(po::command_line_parser(argc, argv).options(all).positional(positional).run(), given);
    po::notify(given);
    if (command.help) {
        std::cout << "Usage: fault_campaign [options] [FIRST [LAST]]\n"
                     "Runs the plans of seeds FIRST to LAST (or FIRST alone) through bench_host\n"
                     "and checks every stored record, the loss counts and the history.\n\n"
                  << described;
        return command;
    }
    if (command.range.size() == 2 && command.range[1] < command.range[0])
        throw std::invalid_argument("LAST must not come before FIRST");
    if (command.attempts < 1)
        throw std::invalid_argument("--attempts must be at least 1");
    if (command.range.empty() && command.seeds.empty() && command.cases.empty() &&
        !command.all_cases && !command.covering_seeds)
        throw std::invalid_argument("name seeds (FIRST [LAST], --seed, --covering-seeds) or cases");
    // Each run works in a folder of its own: the paths it is given must not
    // depend on the folder the campaign was started in.
    for (std::string* path : {&command.scratch, &command.tools.bench_host, &command.tools.plugin,
                              &command.tools.examples})
        if (!path->empty())
            *path = std::filesystem::absolute(*path).string();
    return command;
}

std::vector<CampaignPlan> PlansOf(const Command& command) {
    std::vector<std::uint64_t> seeds = command.seeds;
    if (!command.range.empty()) {
        const std::uint64_t last = command.range.back();
        for (std::uint64_t seed = command.range.front();; ++seed) {
            seeds.push_back(seed);
            if (seed == last)
                break;
        }
    }
    if (command.covering_seeds)
        for (std::uint64_t seed : CoveringSeeds())
            seeds.push_back(seed);
    std::vector<CampaignPlan> plans;
    for (std::uint64_t seed : seeds)
        plans.push_back(DrawPlan(seed, command.tools.examples));
    const std::vector<CampaignPlan> known = KnownCases(command.tools.examples);
    for (const CampaignPlan& plan : known)
        if (command.all_cases)
            plans.push_back(plan);
    for (const std::string& name : command.cases) {
        bool found = false;
        for (const CampaignPlan& plan : known)
            if (plan.name == name) {
                plans.push_back(plan);
                found = true;
            }
        if (!found) {
            std::string names;
            for (const CampaignPlan& plan : known)
                names += (names.empty() ? "" : ", ") + plan.name;
            throw std::invalid_argument("no case '" + name + "' (known: " + names + ")");
        }
    }
    return plans;
}

std::string Quoted(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        const bool plain = !word.empty() && word.find_first_of(" '\"*$\\") == std::string::npos;
        line += (line.empty() ? "" : " ") + (plain ? word : "'" + word + "'");
    }
    return line;
}

// The campaign's own command that runs the plan again.
std::string Reproducer(const std::string& program, const Command& command, const CampaignPlan& plan) {
    std::vector<std::string> words = {program, "--bench-host", command.tools.bench_host, "--plugin",
                                      command.tools.plugin, "--examples", command.tools.examples};
    if (plan.name.rfind("seed ", 0) == 0)
        words.insert(words.end(), {"--seed", std::to_string(plan.seed)});
    else
        words.insert(words.end(), {"--case", plan.name});
    return Quoted(words);
}

std::string FolderName(const CampaignPlan& plan) {
    return plan.name.rfind("seed ", 0) == 0 ? "seed-" + std::to_string(plan.seed) : plan.name;
}

}  // namespace

int main(int argc, char** argv) {
    Command command;
    std::vector<CampaignPlan> plans;
    try {
        command = Parse(argc, argv);
        if (command.help)
            return static_cast<int>(ExitCode::kOk);
        plans = PlansOf(command);
    } catch (const std::exception& failure) {
        std::cerr << "fault_campaign: " << failure.what() << " (see --help)" << std::endl;
        return static_cast<int>(ExitCode::kUsage);
    }
    if (command.plan_only) {
        for (const CampaignPlan& plan : plans)
            std::cout << plan.name << ": " << plan.Summary() << '\n';
        return static_cast<int>(ExitCode::kOk);
    }

    std::string scratch = command.scratch;
    if (scratch.empty()) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "fault-campaign-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::cerr << "fault_campaign: cannot make a scratch folder" << std::endl;
            return static_cast<int>(ExitCode::kFailure);
        }
        scratch = pattern;
    }

    std::vector<std::string> failed;
    for (const CampaignPlan& plan : plans) {
        std::cout << plan.name << ": " << plan.Summary() << std::endl;
        const auto started = std::chrono::steady_clock::now();
        const PlanReport report =
            RunPlan(plan, command.tools, scratch + "/" + FolderName(plan), command.attempts);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f s", took.count());
        std::cout << "    " << report.exchanges << " exchanges, " << report.lost << " lost, "
                  << report.stored << " stored in " << seconds
                  << (report.stopped ? ", stopped by the campaign" : "")
                  << (report.attempts > 1 ? ", " + std::to_string(report.attempts) + " runs" : "")
                  << ": " << (report.findings.empty() ? "ok" : "FAILED") << std::endl;
        for (const Finding& finding : report.findings)
            std::cout << "    " << Finding::Label(finding.kind) << ": " << finding.text << '\n';
        if (report.findings.empty()) {
            if (!command.keep)
                std::filesystem::remove_all(report.folder);
            continue;
        }
        failed.push_back(plan.name);
        std::cout << "    reproduce: " << Reproducer(argv[0], command, plan) << '\n'
                  << "    bench host: " << Quoted(report.command) << '\n'
                  << "    files: " << report.folder << std::endl;
    }
    if (!command.keep && failed.empty())
        std::filesystem::remove_all(scratch);

    std::cout << "campaign: " << plans.size() << (plans.size() == 1 ? " plan, " : " plans, ")
              << failed.size() << " failed";
    for (std::size_t i = 0; i < failed.size(); ++i)
        std::cout << (i == 0 ? ": " : ", ") << failed[i];
    std::cout << std::endl;
    return static_cast<int>(failed.empty() ? ExitCode::kOk : ExitCode::kFailure);
}
