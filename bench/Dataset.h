#pragma once

// The generated GZS007 table: its shape, its rows, and what the correction
// must leave in it. Rows are made one at a time and in order, so a backend
// can stream millions of them into its database without holding them.

#include <cstdint>
#include <string>

namespace bench {

// Raised whenever the rows made for a shape change, so that tables kept
// from an earlier build are made again rather than reused.
inline constexpr int generatorVersion = 1;

// What a generated table looks like. Probe matches (rows other than the
// target with the probed GZS007002 / GZS007005 pair) start half-way down
// the table and are spread evenly over its second half, so that the probe
// scans the same distance to its first match whatever their number; hence
// matches <= rows / 2. The target row is row 13 and does not match.
struct Shape {
    std::int64_t rows = 0;
    std::int64_t matches = 0;

    std::int64_t firstMatchRow() const noexcept { return matches == 0 ? -1 : rows / 2; }
    // Rows whose GZS007004 is 'A': every third row, the first included.
    std::int64_t flaggedRows() const noexcept { return (rows + 2) / 3; }
    // A short name for files and messages, e.g. "100000-1000".
    std::string key() const;
};

// Throws std::invalid_argument for a shape that cannot be generated.
void validate(const Shape& shape);

// One row of GZS007: the columns the correction reads and writes, and a
// dozen more of the kind such a table carries (codes, names, amounts,
// dates, audit fields), so that rows have a realistic width.
struct Row {
    std::string guid;
    std::string code;         // GZS007001
    std::string group;        // GZS007002
    std::string name;         // GZS007003
    std::string flag;         // GZS007004
    std::string parent;       // GZS007005
    std::int64_t state = 1;   // GZS007006
    double quantity = 0;      // GZS007007
    double price = 0;         // GZS007008
    std::string unit;         // GZS007009
    std::string description;  // GZS007010
    std::string validFrom;    // GZS007011
    std::int64_t sortOrder = 0;  // GZS007012
    std::string createdBy;    // SSSS001
    std::string createdAt;    // SSSS002
    std::string changedAt;    // SSSS003
    std::int64_t version = 0;    // SSSS010
    std::int64_t flag014 = 0;    // SSSS014
};

// The table's definition, in SQL that SQLite and MariaDB both accept.
extern const char* const gzs007Schema;

// Makes the rows of a shape, the same ones on every run and every machine.
class RowGenerator {
public:
    explicit RowGenerator(const Shape& shape);

    // Fills `row` with the next row; false once all rows have been made.
    bool next(Row& row);

private:
    bool isNextMatch() const noexcept;

    Shape shape_;
    std::int64_t index_ = 0;
    std::int64_t matchesMade_ = 0;
};

// What a table of `shape` holds after one correction, and what a backend
// reads back to show that a run did the whole work.
struct Digest {
    std::int64_t rows = 0;
    std::int64_t flagged = 0;      // rows with SSSS014 = -1
    std::int64_t targetState = 0;  // GZS007006 of the target row
    bool operator==(const Digest& other) const noexcept {
        return rows == other.rows && flagged == other.flagged && targetState == other.targetState;
    }
};
Digest expectedAfterCorrection(const Shape& shape);
std::string describe(const Digest& digest);

}  // namespace bench
