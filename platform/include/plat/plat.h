// The whole porting layer.
#pragma once

#include "plat/gdi.h"
#include "plat/kernel.h"
#include "plat/message.h"
#include "plat/module.h"
#include "plat/timer.h"
#include "plat/types.h"
#include "plat/window.h"
