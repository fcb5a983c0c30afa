// keldra-status-probe: asks a base station for its status COUNT times, one
// request after the other, through the plug-in's web API client, and prints
// how long each request took on the warm connection and the CPU time the
// client spent per request. For the measurements of bench/measure.
//
//   keldra-status-probe ADDRESS USERNAME PASSWORD COUNT [PAUSE_MS]
//
// PAUSE_MS waits that long between requests, as the plug-in's polls do (its
// caches are then as cold as the plug-in's are at each poll).
//
// Output: "requests N handshakes H median_us M p10_us A p90_us B min_us C
// max_us D cpu_us_per_request E"; the first request (connect and TLS
// handshake) is not counted.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include <boost/asio/io_service.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/ip/address_v4.hpp>

#include "basestations/KeldraWebApi.h"

namespace {

using Clock = std::chrono::steady_clock;

long CpuMicroseconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

class Probe {
public:
    Probe(boost::asio::io_service& ioService, Keldra::KeldraWebApi& webApi, int count,
          std::chrono::milliseconds pause)
        : _webApi(webApi), _count(count), _pause(pause), _timer(ioService)
    {
    }

    void Start() { Request(); }

    bool Failed() const { return _failed; }
    const std::vector<long>& Latencies() const { return _latencies; }
    long CpuPerRequest() const
    {
        return _latencies.empty() ? 0 : (_cpuEnd - _cpuStart) / static_cast<long>(_latencies.size());
    }

private:
    void Request()
    {
        _sent = Clock::now();
        _webApi.GetStatus([this](Oru::SystemResult<Keldra::KeldraJson::StatusObject> result) { OnStatus(result); },
                          _token);
    }

    void OnStatus(const Oru::SystemResult<Keldra::KeldraJson::StatusObject>& result)
    {
        const auto elapsed = Clock::now() - _sent;
        if (!result.HasValue()) {
            std::cerr << "keldra-status-probe: " << result.GetError().message() << '\n';
            _failed = true;
            return;
        }
        if (_warm) {
            _latencies.push_back(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
        } else {
            _warm = true;
            _cpuStart = CpuMicroseconds();
        }
        if (static_cast<int>(_latencies.size()) < _count && _pause.count() > 0) {
            // The probe outlives the event loop's run, so the wait may use it.
            _timer.expires_after(_pause);
            _timer.async_wait([this](const boost::system::error_code&) { Request(); });
        } else if (static_cast<int>(_latencies.size()) < _count) {
            Request();
        } else {
            _cpuEnd = CpuMicroseconds();
        }
    }

    Keldra::KeldraWebApi& _webApi;
    int _count;
    std::chrono::milliseconds _pause;
    boost::asio::steady_timer _timer;
    Keldra::CancellationToken _token;
    Clock::time_point _sent;
    bool _warm = false;
    bool _failed = false;
    long _cpuStart = 0;
    long _cpuEnd = 0;
    std::vector<long> _latencies;
};

long Percentile(std::vector<long> values, double fraction)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5)];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5 && argc != 6) {
        std::cerr << "usage: keldra-status-probe ADDRESS USERNAME PASSWORD COUNT [PAUSE_MS]\n";
        return 2;
    }
    boost::system::error_code error;
    const auto address = boost::asio::ip::address_v4::from_string(argv[1], error);
    const int count = std::atoi(argv[4]);
    const std::chrono::milliseconds pause(argc == 6 ? std::atoi(argv[5]) : 0);
    if (error || count < 1 || pause.count() < 0) {
        std::cerr << "keldra-status-probe: bad address or count\n";
        return 2;
    }
    boost::asio::io_service ioService;
    auto webApi = Keldra::KeldraWebApi::Create(
        ioService, Keldra::BaseStationWebParameters(boost::asio::ip::tcp::endpoint(address, 443),
                                                    Keldra::Credentials{argv[2], argv[3]}));
    if (!webApi.HasValue()) {
        std::cerr << "keldra-status-probe: " << webApi.GetError().message() << '\n';
        return 1;
    }
    Probe probe(ioService, webApi.GetValue(), count, pause);
    probe.Start();
    ioService.run();
    if (probe.Failed()) {
        return 1;
    }
    const auto& latencies = probe.Latencies();
    std::printf("requests %zu handshakes %zu median_us %ld p10_us %ld p90_us %ld min_us %ld max_us %ld "
                "cpu_us_per_request %ld\n",
                latencies.size(), webApi.GetValue().HandshakeCount(), Percentile(latencies, 0.5),
                Percentile(latencies, 0.1), Percentile(latencies, 0.9), Percentile(latencies, 0.0),
                Percentile(latencies, 1.0), probe.CpuPerRequest());
    return 0;
}
