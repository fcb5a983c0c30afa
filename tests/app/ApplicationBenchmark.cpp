// Timings of the two roads through the application, on the test assembly
// (virtual clock, fake web API, recording host):
// - a setpoint from the bus until the web API is asked to write it, the
//   handler that the write command hands to the event loop included;
// - a status answer of the web API until the application has sent every
//   value of it to the host.
// Log lines go to the console as configured; run with stderr redirected.
#include <benchmark/benchmark.h>

#include <string>

#include <log4cplus/loglevel.h>

#include "ApplicationFixture.h"
#include "OruLogging.h"

namespace Keldra {
namespace Testing {
namespace {

// Lines below warning are not written while it exists.
class WarningsOnly {
public:
    WarningsOnly() : _level(Oru::GetGlobalDefaultLogger().getLogLevel())
    {
        Oru::GetGlobalDefaultLogger().setLogLevel(log4cplus::WARN_LOG_LEVEL);
    }
    ~WarningsOnly() { Oru::GetGlobalDefaultLogger().setLogLevel(_level); }
    WarningsOnly(const WarningsOnly&) = delete;
    WarningsOnly& operator=(const WarningsOnly&) = delete;

private:
    log4cplus::LogLevel _level;
};

// One station, found and polled once, its answers held so that each
// iteration measures only its own part of the road.
std::unique_ptr<ApplicationFixture> StartedFixture()
{
    auto fixture = std::make_unique<ApplicationFixture>(std::vector<SimulatedStation>{Station1()});
    fixture->Start();
    fixture->WebApiOf(0)->AnswerWrite(RequestKind::SetpointTemperature, WriteResponseStatus::Accepted, Delivery::Held);
    fixture->ClearRecords();
    return fixture;
}

void SetpointToWebApi(benchmark::State& state, bool quiet)
{
    std::unique_ptr<WarningsOnly> warningsOnly(quiet ? new WarningsOnly : nullptr);
    auto fixture = StartedFixture();
    const auto webApi = fixture->WebApiOf(0);
    for (auto _ : state) {
        fixture->app->OnValueReceived(2, 21.3f);
        fixture->RunPending();
        state.PauseTiming();
        if (webApi->HeldCount(RequestKind::SetpointTemperature) != 1) {
            state.SkipWithError("the setpoint did not reach the web API");
            break;
        }
        webApi->DropHeld();
        fixture->ClearRecords();
        state.ResumeTiming();
    }
}

void StatusToHost(benchmark::State& state, bool quiet)
{
    std::unique_ptr<WarningsOnly> warningsOnly(quiet ? new WarningsOnly : nullptr);
    auto fixture = StartedFixture();
    const auto webApi = fixture->WebApiOf(0);
    // Alternating power levels, so that every answer publishes them too.
    KeldraJson::StatusObject statuses[2] = {fixture->stations[0].status, fixture->stations[0].status};
    statuses[1].rooms[0].powerLevelControl->powerLevel = 5;
    std::size_t round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        webApi->AnswerStatus(statuses[++round % 2], Delivery::Held);
        fixture->ClearRecords();
        fixture->Poll();
        if (webApi->HeldCount(RequestKind::Status) != 1) {
            state.SkipWithError("no status request held");
            break;
        }
        state.ResumeTiming();
        webApi->ReleaseHeld(RequestKind::Status);
        fixture->RunPending();
        state.PauseTiming();
        // 98, 517, 511, 97, 503, the changed level (38, 40) and the thermostats (6, 1, 3).
        if (fixture->host.Sent().size() != 10) {
            state.SkipWithError(("the status was not published in full: " +
                                 std::to_string(fixture->host.Sent().size()) + " values")
                                    .c_str());
            break;
        }
        state.ResumeTiming();
    }
}

// The station's date and time texts of every master status.
void BM_ConvertDateToPtime(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(KeldraApp::ConvertDateToPtime("24-05-20", "10:00:00", "%y-%m-%dT%H:%M:%S"));
    }
}

void BM_SetpointToWebApi(benchmark::State& state) { SetpointToWebApi(state, false); }
void BM_SetpointToWebApiWarningsOnly(benchmark::State& state) { SetpointToWebApi(state, true); }
void BM_StatusToHost(benchmark::State& state) { StatusToHost(state, false); }
void BM_StatusToHostWarningsOnly(benchmark::State& state) { StatusToHost(state, true); }

BENCHMARK(BM_ConvertDateToPtime)->Unit(benchmark::kMicrosecond)->MinTime(0.2);
BENCHMARK(BM_SetpointToWebApi)->Unit(benchmark::kMicrosecond)->MinTime(0.2);
BENCHMARK(BM_SetpointToWebApiWarningsOnly)->Unit(benchmark::kMicrosecond)->MinTime(0.2);
BENCHMARK(BM_StatusToHost)->Unit(benchmark::kMicrosecond)->MinTime(0.2);
BENCHMARK(BM_StatusToHostWarningsOnly)->Unit(benchmark::kMicrosecond)->MinTime(0.2);

}  // namespace
}  // namespace Testing
}  // namespace Keldra

BENCHMARK_MAIN();
