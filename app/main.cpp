// The plug-in's entry points and the assembly of the application: the shared
// runtime (event loop, clock, worker thread) and the factories through which
// the application builds its collaborators.
#include <atomic>
#include <exception>
#include <memory>

#include <boost/asio/io_service.hpp>
#include <boost/make_shared.hpp>
#include <boost/optional.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/thread.hpp>

#include "app/OruApp.h"
#include "app/OruKeldraApp.h"
#include "basestations/BaseStationManager.h"
#include "basestations/KeldraWebApi.h"
#include "discovery/KeldraConfigurationManager.h"
#include "discovery/KeldraConfigurationReader.h"
#include "discovery/KeldraProductWebService.h"
#include "platform/mdns/MDnsClient.h"
#include "rooms/ErrorCodeHandler.h"
#include "support/Assert.h"
#include "support/KernelClockSystem.h"
#include "support/OperatingSystem.h"

#define KELDRA_EXPORT extern "C" __attribute__((visibility("default")))

namespace Keldra {
namespace {

// The credentials file as the gateway's configuration pages see it.
const boost::filesystem::path ProductConfigurationFile("/opt/userdata/oruAppConfigRoot/1/orubasestationconfig.json");

// The runtime shared by everything the assembly builds; destroyed when its
// last holder lets go, the operating-system instance last.
struct ApplicationResources {
    ApplicationResources() : _operatingSystem("KeldraApp"), _clockSystem(_ioService, _operatingSystem) {}

    ~ApplicationResources()
    {
        if (_work) {
            Stop();
        }
        if (_thread.joinable()) {
            _thread.detach();
        }
    }

    ApplicationResources(const ApplicationResources&) = delete;
    ApplicationResources& operator=(const ApplicationResources&) = delete;

    // Stops the event loop and joins the worker thread; never called from
    // the worker thread itself.
    void Stop()
    {
        if (!_running.exchange(false)) {
            return;
        }
        _work.reset();
        _ioService.stop();
        if (_thread.joinable()) {
            _thread.join();
        }
    }

    Oru::OperatingSystem _operatingSystem;
    boost::asio::io_service _ioService;
    Oru::KernelClockSystem _clockSystem;
    boost::optional<boost::asio::io_service::work> _work;
    std::atomic<bool> _running{true};
    boost::thread _thread;
    IKnxErrorIndication* _errorIndicator = nullptr;
};

using Resources = boost::shared_ptr<ApplicationResources>;

void RunWorker(const Resources& resources)
{
    while (resources->_running) {
        resources->_ioService.restart();
        boost::system::error_code error;
        resources->_ioService.run(error);
        if (error) {
            throw boost::system::system_error(error);
        }
    }
}

TimerFactory MakeTimerFactory(const Resources& resources)
{
    return [resources]() { return resources->_clockSystem.CreateTimer(); };
}

std::unique_ptr<KeldraApp> AssembleApplication(const Resources& resources)
{
    boost::function<void()> exitFunction = [resources]() { resources->Stop(); };

    BaseStationManagerFactory baseStationManagerFactory =
        [resources](boost::asio::io_service& ioService, IBaseStationManagerEventHandler& eventHandler,
                    std::unique_ptr<IErrorHandler> errorHandler,
                    std::unique_ptr<IKeldraConfigurationManager> configurationManager) {
            MDnsFactory mdnsFactory = [](boost::asio::io_service& service) -> std::unique_ptr<IMDnsClient> {
                return std::make_unique<Oru::MDnsClient>(service);
            };
            WebApiFactory webApiFactory = [](boost::asio::io_service& service, BaseStationWebParameters&& parameters)
                -> Oru::SystemResult<std::shared_ptr<IKeldraWebApi>> {
                auto created = KeldraWebApi::Create(service, BaseStationWebParameters(parameters));
                if (created.HasError()) {
                    return created.GetError();
                }
                return std::shared_ptr<IKeldraWebApi>(std::make_shared<KeldraWebApi>(std::move(created.GetValue())));
            };
            return std::make_unique<BaseStationManager>(ioService, MakeTimerFactory(resources), mdnsFactory,
                                                        webApiFactory, eventHandler, std::move(errorHandler),
                                                        std::move(configurationManager));
        };

    ErrorHandlerFactory errorHandlerFactory =
        [resources](const BaseStationNumber& count) -> std::unique_ptr<IErrorHandler> {
        ORU_ASSERT2(resources->_errorIndicator != nullptr);
        return std::make_unique<ErrorHandler>(MakeTimerFactory(resources), *resources->_errorIndicator, count);
    };

    ConfigurationManagerFactory configurationManagerFactory =
        [resources](boost::filesystem::path path) -> std::unique_ptr<IKeldraConfigurationManager> {
        return std::make_unique<KeldraConfigurationManager>(std::make_unique<KeldraConfigurationReader>(path),
                                                            resources->_clockSystem.CreateTimer(),
                                                            StationKeyStore::BesideCredentials(path));
    };

    auto application = std::make_unique<KeldraApp>(exitFunction, resources->_clockSystem, baseStationManagerFactory,
                                                   errorHandlerFactory, configurationManagerFactory);
    resources->_errorIndicator = application.get();
    return application;
}

std::unique_ptr<KeldraApp> CreateApplication()
{
    Resources resources = boost::make_shared<ApplicationResources>();
    resources->_work.emplace(resources->_ioService);
    resources->_thread = boost::thread([resources]() { RunWorker(resources); });
    try {
        return AssembleApplication(resources);
    } catch (...) {
        // The worker thread holds the resources too: it would run on,
        // unseen, after the application was never made.
        resources->Stop();
        throw;
    }
}

}  // namespace
}  // namespace Keldra

KELDRA_EXPORT OruApp::IOruApp* createOruApp()
{
    ORU_LOG_INFO("Global logger in the Keldra app initialized");
    try {
        return Keldra::CreateApplication().release();
    } catch (const std::exception& error) {
        ORU_LOG_ERROR(error.what());
        return nullptr;
    }
}

KELDRA_EXPORT void deleteOruApp(OruApp::IOruApp* app) { delete app; }

KELDRA_EXPORT Oru::IProductWebService* CreateProductWebService(Oru::ICommonWebService& commonWebService)
{
    return new Keldra::KeldraProductWebService(commonWebService, Keldra::ProductConfigurationFile);
}
