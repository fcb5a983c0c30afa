// The messages of the base station web API (namespace Keldra::KeldraJson).
#pragma once

#include "KeldraJson/ActorObject.h"
#include "KeldraJson/BaseStationShortInfoMessage.h"
#include "KeldraJson/ErrorObject.h"
#include "KeldraJson/LeavingHomeObject.h"
#include "KeldraJson/PowerLevelControlObject.h"
#include "KeldraJson/RoomObject.h"
#include "KeldraJson/SettingsObject.h"
#include "KeldraJson/StatusObject.h"
#include "KeldraJson/SystemObject.h"
#include "KeldraJson/ThermostatObject.h"
