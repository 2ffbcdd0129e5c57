#include "Dataset.h"

#include "Statements.h"

#include <array>
#include <cstdio>
#include <stdexcept>

namespace bench {
namespace {

constexpr std::int64_t targetRow = 13;
// One row in a hundred of each kind nearly matches the probe, so that the
// probe's second condition is really evaluated and not just its first.
constexpr std::int64_t nearMissGroupRow = 7;
constexpr std::int64_t nearMissParentRow = 57;

// splitmix64: a good 64-bit mix, so that row i's values depend on i alone.
std::uint64_t mix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// A stream of pseudo-random numbers for one row.
class RowRandom {
public:
    explicit RowRandom(std::int64_t row) : state_(mix(static_cast<std::uint64_t>(row))) {}
    std::uint64_t next() { return state_ = mix(state_); }
    int below(int bound) { return static_cast<int>(next() % static_cast<std::uint64_t>(bound)); }

private:
    std::uint64_t state_;
};

template <typename... Args>
std::string format(const char* pattern, Args... args) {
    std::array<char, 96> buffer{};
    std::snprintf(buffer.data(), buffer.size(), pattern, args...);
    return buffer.data();
}

constexpr std::array<const char*, 16> words = {
    "bracket", "steel",  "housing", "left",   "right", "cover", "assembly", "bolt",
    "washer",  "gasket", "spare",   "primed", "fitted", "panel", "frame",   "seal"};
constexpr std::array<const char*, 5> units = {"pcs", "kg", "m", "l", "set"};
constexpr std::array<const char*, 6> users = {"ADMIN", "HBAUER", "MKLEIN", "SYS", "JWOLF", "PLANUNG"};
// Rows that are not flagged 'A' carry other flags, one of them differing
// from it only in case.
constexpr std::array<const char*, 3> otherFlags = {"B", "C", "a"};

std::string words3to9(RowRandom& random) {
    std::string text;
    const int count = 3 + random.below(7);
    for (int i = 0; i < count; ++i) {
        if (i) text += ' ';
        text += words[static_cast<std::size_t>(random.below(words.size()))];
    }
    return text;
}

std::string timestamp(RowRandom& random) {
    return format("20%02d-%02d-%02d %02d:%02d:%02d", 15 + random.below(10), 1 + random.below(12),
                  1 + random.below(28), random.below(24), random.below(60), random.below(60));
}

}  // namespace

const char* const gzs007Schema =
    "CREATE TABLE GZS007 ("
    " GUID TEXT PRIMARY KEY, GZS007001 TEXT, GZS007002 TEXT, GZS007003 TEXT, GZS007004 TEXT,"
    " GZS007005 TEXT, GZS007006 INTEGER, GZS007007 REAL, GZS007008 REAL, GZS007009 TEXT,"
    " GZS007010 TEXT, GZS007011 TEXT, GZS007012 INTEGER, SSSS001 TEXT, SSSS002 TEXT,"
    " SSSS003 TEXT, SSSS010 INTEGER, SSSS014 INTEGER)";

std::string Shape::key() const { return std::to_string(rows) + "-" + std::to_string(matches); }

void validate(const Shape& shape) {
    // The target row must lie before the first match.
    if (shape.rows / 2 <= targetRow)
        throw std::invalid_argument("a table needs at least " + std::to_string(2 * targetRow + 2) + " rows");
    if (shape.matches < 0 || shape.matches > shape.rows / 2)
        throw std::invalid_argument("probe matches must be between 0 and half the rows: " + shape.key());
}

RowGenerator::RowGenerator(const Shape& shape) : shape_(shape) { validate(shape_); }

// Match k sits at rows/2 + k * (rows - rows/2) / matches: distinct rows,
// evenly spaced, the first one half-way down the table.
bool RowGenerator::isNextMatch() const noexcept {
    if (matchesMade_ >= shape_.matches) return false;
    const std::int64_t half = shape_.rows / 2;
    return index_ == half + matchesMade_ * (shape_.rows - half) / shape_.matches;
}

bool RowGenerator::next(Row& row) {
    if (index_ >= shape_.rows) return false;
    const std::int64_t i = index_;
    RowRandom random(i);

    row.guid = i == targetRow ? statements::targetGuid : format("A52%013lldGZR%06lld_%03lld", static_cast<long long>(i),
                                                                static_cast<long long>(i / 1000),
                                                                static_cast<long long>(i % 1000));
    row.code = format("ART-%07d", random.below(10000000));
    row.name = words3to9(random).substr(0, 40);
    row.flag = i % 3 == 0 ? "A" : otherFlags[static_cast<std::size_t>(random.below(otherFlags.size()))];
    row.group = format("GZU%06d", 100000 + random.below(900000));
    row.parent = format("A520000000000000GZSSYS%03d_%03d", 100 + random.below(900), random.below(1000));
    if (isNextMatch()) {
        row.group = statements::probedGroup;
        row.parent = statements::probedParent;
        ++matchesMade_;
    } else if (i % 100 == nearMissGroupRow) {
        row.group = statements::probedGroup;
        row.parent = format("A520000000000000GZSSYS002_0%02d", 10 + random.below(90));
    } else if (i % 100 == nearMissParentRow) {
        row.parent = statements::probedParent;
    }
    row.state = 1;
    row.quantity = random.below(100000) / 100.0;
    row.price = random.below(1000000) / 100.0;
    row.unit = units[static_cast<std::size_t>(random.below(units.size()))];
    row.description = words3to9(random) + " " + words3to9(random);
    row.validFrom = timestamp(random).substr(0, 10);
    row.sortOrder = random.below(1000);
    row.createdBy = users[static_cast<std::size_t>(random.below(users.size()))];
    row.createdAt = timestamp(random);
    row.changedAt = timestamp(random);
    row.version = 1 + random.below(20);
    row.flag014 = 0;
    ++index_;
    return true;
}

Digest expectedAfterCorrection(const Shape& shape) {
    return Digest{shape.rows, shape.flaggedRows(), shape.matches > 0 ? 0 : 1};
}

std::string describe(const Digest& digest) {
    return std::to_string(digest.rows) + " rows, " + std::to_string(digest.flagged) +
           " with SSSS014=-1, target GZS007006=" + std::to_string(digest.targetState);
}

}  // namespace bench
