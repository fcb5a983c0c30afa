// The messages of the base station web API (namespace Keldra::KeldraJson).
#pragma once

#include "basestations/KeldraJson/ActorObject.h"
#include "basestations/KeldraJson/BaseStationShortInfoMessage.h"
#include "basestations/KeldraJson/ErrorObject.h"
#include "basestations/KeldraJson/LeavingHomeObject.h"
#include "basestations/KeldraJson/PowerLevelControlObject.h"
#include "basestations/KeldraJson/RoomObject.h"
#include "basestations/KeldraJson/SettingsObject.h"
#include "basestations/KeldraJson/StatusObject.h"
#include "basestations/KeldraJson/SystemObject.h"
#include "basestations/KeldraJson/ThermostatObject.h"
