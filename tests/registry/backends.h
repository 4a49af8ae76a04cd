// The registry's two back ends as a test parameter, for the end-to-end
// suites that run every case on both (registry_test.cpp, view_test.cpp).
//
// A suite's fixture declares `virtual Backend backend() const = 0` and opens
// its registry of that back end in SetUp. Then
//   class Suite : public OnEachBackend<Fixture> {};           one test per back end,
//   INSTANTIATE_TEST_SUITE_P(P, Suite, BothBackends(), BackendOnly);   named <back end>
//   class Table : public RowsOnEachBackend<Fixture, Case> {}; one test per row and back end,
//   INSTANTIATE_TEST_SUITE_P(P, Table, OnBothBackends(kRows), RowOnBackend<Case>);
// where Case has a `name`, the row's name, and row() gives the row. Every
// test's name ends with its back end ("Sqlite", "Postgres"): CTest picks the
// SQLite half by it, and the PostgreSQL half runs under pg_cluster.sh.
#ifndef TALVEK_TESTS_REGISTRY_BACKENDS_H
#define TALVEK_TESTS_REGISTRY_BACKENDS_H

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "test.h"

enum class Backend { kSqlite, kPostgres };

// The back end as the end of a test's name.
inline const char *BackendName(Backend b)
{
    return b == Backend::kSqlite ? "Sqlite" : "Postgres";
}

inline void PrintTo(Backend b, std::ostream *os)
{
    *os << BackendName(b);
}

inline auto BothBackends()
{
    return ::testing::Values(Backend::kSqlite, Backend::kPostgres);
}

inline std::string BackendOnly(const ::testing::TestParamInfo<Backend> &info)
{
    return BackendName(info.param);
}

// The cases of Fixture that are one test per back end.
template <class Fixture>
class OnEachBackend : public Fixture, public ::testing::WithParamInterface<Backend> {
protected:
    Backend backend() const override { return this->GetParam(); }
};

// The cases of Fixture that are one test per row of a table and back end,
// named <row name>_<back end>.
template <class Fixture, class Case>
class RowsOnEachBackend : public Fixture,
                          public ::testing::WithParamInterface<std::tuple<Backend, Case>> {
protected:
    Backend backend() const override { return std::get<0>(this->GetParam()); }
    const Case &row() const { return std::get<1>(this->GetParam()); }
};

template <class Case>
std::string RowOnBackend(const ::testing::TestParamInfo<std::tuple<Backend, Case>> &info)
{
    return TestName(std::get<1>(info.param).name) + "_" + BackendName(std::get<0>(info.param));
}

// Each row of table on both back ends.
template <class Case>
auto OnBothBackends(const std::vector<Case> &table)
{
    return ::testing::Combine(BothBackends(), ::testing::ValuesIn(table));
}

#endif
