// Timings of the two roads through the application, on the test assembly
// (virtual clock, fake web API, recording host), with every log line and
// (argument 1) with warnings only:
// - a setpoint from the bus until the web API is asked to write it, the
//   handler that the write command hands to the event loop included;
// - a status answer of the web API until the application has sent every
//   value of it to the host (98, 517, 511, 97, 503, the changed level on 38
//   and 40, the thermostats on 6, 1 and 3).
// Log lines go to the console as configured; run with stderr redirected.
#include <benchmark/benchmark.h>

#include <log4cplus/loglevel.h>

#include "platform/host/OruLogging.h"
#include "tests/app/ApplicationFixture.h"

namespace Keldra {
namespace Testing {
namespace {

// One station, found and polled once, its answers held so that each
// iteration measures only its own part of the road.
struct Road {
    explicit Road(const benchmark::State& state) : level(Oru::GetGlobalDefaultLogger().getLogLevel())
    {
        Oru::GetGlobalDefaultLogger().setLogLevel(state.range(0) != 0 ? log4cplus::WARN_LOG_LEVEL : level);
        fixture.Start();
        webApi = fixture.WebApiOf(0);
        webApi->AnswerWrite(RequestKind::SetpointTemperature, WriteResponseStatus::Accepted, Delivery::Held);
    }
    ~Road() { Oru::GetGlobalDefaultLogger().setLogLevel(level); }

    const log4cplus::LogLevel level;
    ApplicationFixture fixture{{Station1()}};
    std::shared_ptr<FakeKeldraWebApi> webApi;
};

void BM_SetpointToWebApi(benchmark::State& state)
{
    Road road(state);
    for (auto _ : state) {
        road.fixture.app->OnValueReceived(2, 21.3f);
        road.fixture.RunPending();
        state.PauseTiming();
        if (road.webApi->HeldCount(RequestKind::SetpointTemperature) != 1) {
            state.SkipWithError("the setpoint did not reach the web API");
        }
        road.webApi->DropHeld();
        road.fixture.ClearRecords();
        state.ResumeTiming();
    }
}

void BM_StatusToHost(benchmark::State& state)
{
    Road road(state);
    // Alternating power levels, so that every answer publishes them too.
    KeldraJson::StatusObject statuses[2] = {road.fixture.stations[0].status, road.fixture.stations[0].status};
    statuses[1].rooms[0].powerLevelControl->powerLevel = 5;
    std::size_t round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        road.webApi->AnswerStatus(statuses[++round % 2], Delivery::Held);
        road.fixture.ClearRecords();
        road.fixture.Poll();
        state.ResumeTiming();
        road.webApi->ReleaseHeld(RequestKind::Status);
        road.fixture.RunPending();
        if (road.fixture.host.Sent().size() != 10) {
            state.SkipWithError("the status was not published in full");
        }
    }
}

// The station's date and time texts of every master status.
void BM_ConvertDateToPtime(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(KeldraApp::ConvertDateToPtime("24-05-20", "10:00:00", "%y-%m-%dT%H:%M:%S"));
    }
}

BENCHMARK(BM_ConvertDateToPtime)->Unit(benchmark::kMicrosecond)->MinTime(0.2);
BENCHMARK(BM_SetpointToWebApi)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->MinTime(0.2);
BENCHMARK(BM_StatusToHost)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->MinTime(0.2);

}  // namespace
}  // namespace Testing
}  // namespace Keldra

BENCHMARK_MAIN();
