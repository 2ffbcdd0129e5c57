#pragma once

// The tests that every provider must pass, written once: each test binary
// runs them on the providers it names with EDITDB_PROVIDER_TESTS.

#include "Backends.h"

#include <gtest/gtest.h>

#include <tuple>

namespace providers {

// One call of the correction: the table before and after, and whether the
// second update was sent.
struct EffectCase {
    const char* name;
    std::vector<Row> before;
    std::vector<Row> after;
    bool secondUpdateSent;
};
std::vector<EffectCase> EffectCases();

// One step of the correction made to fail by a table that lacks what it names.
struct StepFailure {
    const char* name;
    const char* setup;    // run on the standard table and its rows
    const char* missing;  // what the engine's message names (compared ignoring case)
    std::size_t sent;     // statements sent, the last one the one refused
    std::optional<std::int64_t> flagAfter;       // SSSS014 of row G-A, where the table still has it
    std::optional<std::int64_t> target006After;  // GZS007006 of the target row, likewise
};
std::vector<StepFailure> StepFailures();

inline const Provider& ProviderOf(const Provider& provider) { return provider; }
template <typename Case>
const Provider& ProviderOf(const std::tuple<Provider, Case>& param) {
    return std::get<0>(param);
}

// Makes the provider's database for each test; a server provider is
// skipped only where the developer opted out of the server tests.
template <typename Param>
class ProviderFixture : public ::testing::TestWithParam<Param> {
protected:
    void SetUp() override {
        const Provider& provider = ProviderOf(this->GetParam());
        if (provider.needsServer && Servers().skipped) GTEST_SKIP() << *Servers().skipped;
        backend = provider.make();
    }

    std::unique_ptr<Backend> backend;
};

// The connection's own operations, on any provider.
class OnProvider : public ProviderFixture<Provider> {};
// The correction, on a provider that parses it.
class HostOnProvider : public ProviderFixture<Provider> {};
class CorrectionOnProvider : public ProviderFixture<std::tuple<Provider, EffectCase>> {};
class FailingStepOnProvider : public ProviderFixture<std::tuple<Provider, StepFailure>> {};

// Names a case after its provider, and its case where it has one.
struct ProviderName {
    std::string operator()(const ::testing::TestParamInfo<Provider>& info) const { return info.param.name; }
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<std::tuple<Provider, Case>>& info) const {
        return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    }
};

}  // namespace providers

// Runs every shared test on the providers given.
#define EDITDB_PROVIDER_TESTS(prefix, ...)                                                                      \
    INSTANTIATE_TEST_SUITE_P(prefix, OnProvider, ::testing::Values(__VA_ARGS__), ::providers::ProviderName()); \
    INSTANTIATE_TEST_SUITE_P(prefix, HostOnProvider, ::testing::Values(__VA_ARGS__), ::providers::ProviderName()); \
    INSTANTIATE_TEST_SUITE_P(                                                                                   \
        prefix, CorrectionOnProvider,                                                                           \
        ::testing::Combine(::testing::Values(__VA_ARGS__), ::testing::ValuesIn(::providers::EffectCases())),    \
        ::providers::ProviderName());                                                                           \
    INSTANTIATE_TEST_SUITE_P(                                                                                   \
        prefix, FailingStepOnProvider,                                                                          \
        ::testing::Combine(::testing::Values(__VA_ARGS__), ::testing::ValuesIn(::providers::StepFailures())),   \
        ::providers::ProviderName())
