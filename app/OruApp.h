// The gateway's application interface: what the gateway calls on a plug-in
// (IOruApp) and what a plug-in calls on the gateway (IOruAppHost).
//
// The gateway defines TimeOfDay; here the host does, in
// platform/host/TimeOfDay.cpp (liboruhost.so).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/optional.hpp>

namespace OruApp {

// A time of day with minute resolution, as KNX carries it.
class TimeOfDay {
public:
    static boost::optional<TimeOfDay> Create(int hour, int minute);   // 0..23, 0..59
    static boost::optional<TimeOfDay> FromBoostPosixPtime(const boost::posix_time::ptime&);
    int GetHour() const;
    int GetMinute() const;

private:
    TimeOfDay(int hour, int minute);
    int _hour;
    int _minute;
};
std::ostream& operator<<(std::ostream&, const TimeOfDay&);            // "18:30"

class IOruAppHost {
public:
    virtual ~IOruAppHost() = default;
    virtual bool SendText(int co, const std::string& value) = 0;
    virtual bool SendSwitch(int co, bool value) = 0;
    virtual bool SendByte(int co, unsigned char value) = 0;
    virtual bool SendFloat(int co, float value) = 0;
    virtual bool SendDateTime(int co, const boost::posix_time::ptime& value) = 0;
    virtual bool SendTimeOfDay(int co, const TimeOfDay& value) = 0;
    virtual bool GetNumberParameter(int id, int32_t& value) = 0;
    virtual bool GetTextParameter(int id, std::string& value) = 0;
    virtual std::string GetConfigurationDirectory() = 0;
    virtual void SetLedErrorCode(int code) = 0;
};

class IOruApp {
public:
    virtual ~IOruApp() = default;
    virtual bool Init(IOruAppHost* host) = 0;
    virtual void Exit(const IOruAppHost* host) = 0;
    virtual bool Run() = 0;

    virtual bool GetValue(int co, std::string& value) = 0;
    virtual bool GetValue(int co, bool& value) = 0;
    virtual bool GetValue(int co, unsigned char& value) = 0;
    virtual bool GetValue(int co, float& value) = 0;
    virtual bool GetValue(int co, unsigned short& value) = 0;
    virtual bool GetValue(int co, unsigned long& value) = 0;
    virtual bool GetValue(int co, long& value) = 0;
    virtual bool GetValue(int co, boost::posix_time::ptime& value) = 0;
    virtual bool GetValue(int co, TimeOfDay& value) = 0;

    virtual void OnValueReceived(int co, const std::string& value) = 0;
    virtual void OnValueReceived(int co, bool value) = 0;
    virtual void OnValueReceived(int co, unsigned char value) = 0;
    virtual void OnValueReceived(int co, float value) = 0;
    virtual void OnValueReceived(int co, unsigned short value) = 0;
    virtual void OnValueReceived(int co, unsigned long value) = 0;
    virtual void OnValueReceived(int co, long value) = 0;
    virtual void OnValueReceived(int co, const boost::posix_time::ptime& value) = 0;
    virtual void OnValueReceived(int co, const TimeOfDay& value) = 0;
};

}  // namespace OruApp
