#pragma once

// The whole public API of the velmora SDK.

#include "velmora/CanBus.h"
#include "velmora/Export.h"
#include "velmora/HandException.h"
#include "velmora/HandFactory.h"
#include "velmora/HandHealth.h"
#include "velmora/HandStream.h"
#include "velmora/IHand.h"
#include "velmora/MessageSink.h"
#include "velmora/Models.h"
#include "velmora/RangeToArc.h"
#include "velmora/StampedReading.h"
#include "velmora/VelmoraApi.h"
#include "velmora/VelmoraKesta.h"
#include "velmora/VelmoraMarlo.h"
#include "velmora/VelmoraRavel.h"
#include "velmora/VelmoraTovin.h"
#include "velmora/VelmoraTypes.h"
#include "velmora/VelmoraZenit.h"
#include "velmora/Version.h"
#include "velmora/VirtualCanBus.h"
