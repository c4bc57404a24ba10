// make_history: a history of any length in the bench host's own format,
// for measuring the history tools on millions of records. Station 1's
// simulated readings (the simulated meter's answers 1, 2, ...), one record
// an interval, with a lost round now and then; written in one transaction.
#include "BenchError.h"
#include "HistoryStore.h"
#include "QVT7702_Data_t.h"
#include "SimulatedReadings.h"
#include "StoredTime.h"

#include <boost/program_options.hpp>
#include <sqlite3.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

namespace po = boost::program_options;

namespace {

struct Plan {
    std::string path;
    long long records = 0;
    std::uint32_t data_id = 1201;
    std::string start = "2026-01-01 00:00:00";
    double interval_seconds = 1.0;
    long long lost_every = 1000;  // 0: none lost
};

[[noreturn]] void Fail(const std::string& message) {
    throw BenchError(ExitCode::kUsage, message);
}

void Execute(sqlite3* db, const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error != nullptr ? error : "unknown error";
        sqlite3_free(error);
        throw BenchError(ExitCode::kHistory, std::string(sql) + ": " + message);
    }
}

void Fill(const Plan& plan) {
    const std::optional<StoredTime::Typed> start = StoredTime::ParseTyped(plan.start);
    if (!start)
        Fail("--start needs a time such as \"2026-01-01 00:00:00\", not '" + plan.start + "'");
    // The file made and marked as the bench host makes it.
    { HistoryStore made(plan.path, HistoryStore::Access::kReadWrite); }

    sqlite3* db = nullptr;
    if (sqlite3_open_v2(plan.path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        throw BenchError(ExitCode::kHistory, "cannot open " + plan.path);
    // Written once, straight into the file; back in the write-ahead journal
    // at the end, as every history is kept.
    Execute(db, "PRAGMA journal_mode = DELETE; PRAGMA synchronous = OFF; BEGIN");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO history (data_id, stored_at, record) VALUES (?, ?, ?)", -1,
                       &insert, nullptr);
    long long round = 0;
    for (long long stored = 0; stored < plan.records; ++round) {
        if (plan.lost_every > 0 && round % plan.lost_every == plan.lost_every - 1)
            continue;
        const auto milliseconds = static_cast<std::int64_t>(
            std::llround((start->seconds + plan.interval_seconds * static_cast<double>(round)) * 1000.0));
        const StoredTime::Reading at = StoredTime::ReadingOf(milliseconds);
        QVT7702_Data_t record;
        std::memset(static_cast<void*>(&record), 0, sizeof record);
        record.data_id = plan.data_id;
        const SimulatedReadings::Words words =
            SimulatedReadings::WordsOf(static_cast<std::uint32_t>(round + 1));
        for (int i = 0; i < SimulatedReadings::kWordCount; ++i)
            record.values[i] = words[i];
        record.time_stamp = TTime{static_cast<std::uint16_t>(at.year),
                                  static_cast<std::uint8_t>(at.month),
                                  static_cast<std::uint8_t>(at.day),
                                  static_cast<std::uint8_t>(at.hour),
                                  static_cast<std::uint8_t>(at.minute),
                                  static_cast<std::uint8_t>(at.second)};
        const std::string stored_at = StoredTime::Text(milliseconds);
        sqlite3_bind_int64(insert, 1, plan.data_id);
        sqlite3_bind_text(insert, 2, stored_at.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_blob(insert, 3, &record, sizeof record, SQLITE_STATIC);
        if (sqlite3_step(insert) != SQLITE_DONE)
            throw BenchError(ExitCode::kHistory, "cannot write " + plan.path + ": " + sqlite3_errmsg(db));
        sqlite3_reset(insert);
        ++stored;
    }
    sqlite3_finalize(insert);
    Execute(db, "COMMIT; PRAGMA journal_mode = WAL");
    sqlite3_close(db);
    std::cout << "make_history: " << plan.path << ", " << plan.records << " records of data id "
              << plan.data_id << ", " << round - plan.records << " rounds lost\n";
}

}  // namespace

int main(int argc, char** argv) {
    try {
        Plan plan;
        po::options_description described("Options");
        described.add_options()
            ("help,h", "show this help")
            ("data-id", po::value(&plan.data_id)->value_name("N"), "the records' data id (default 1201)")
            ("start", po::value(&plan.start)->value_name("TIME"),
             "local time of the first record (default 2026-01-01 00:00:00)")
            ("interval", po::value(&plan.interval_seconds)->value_name("SECONDS"),
             "time from one round to the next (default 1)")
            ("lost-every", po::value(&plan.lost_every)->value_name("N"),
             "every Nth round lost, stored as no record (default 1000; 0: none)");
        po::options_description hidden;
        hidden.add_options()
            ("file", po::value(&plan.path))
            ("records", po::value(&plan.records));
        po::options_description all;
        all.add(described).add(hidden);
        po::positional_options_description positional;
        positional.add("file", 1).add("records", 1);
        po::variables_map given;
        try {
            po::store(po::command_line_parser(argc, argv).options(all).positional(positional).run(),
                      given);
            po::notify(given);
        } catch (const po::error& failure) {
            Fail(failure.what());
        }
        if (given.count("help") != 0) {
            std::cout << "Usage: make_history FILE N [options]\n"
                         "Writes a new bench history FILE of N records.\n\n"
                      << described;
            return 0;
        }
        if (plan.path.empty() || given.count("records") == 0 || plan.records < 1)
            Fail("give a new history file and a number of records of at least 1");
        if (!(plan.interval_seconds > 0.0) || plan.lost_every < 0 || plan.lost_every == 1)
            Fail("--interval must be above 0 and --lost-every 0 or at least 2");
        if (std::filesystem::exists(plan.path))
            Fail(plan.path + " exists: make_history writes a new history only");
        Fill(plan);
        return 0;
    } catch (const BenchError& failure) {
        std::cerr << "make_history: " << failure.what() << std::endl;
        return static_cast<int>(failure.Code());
    }
}
