// Every platform operation that the other subsystems call, one header per service. Nothing above
// platform/ includes SDL, FFmpeg or POSIX headers for these jobs. Callers may include this umbrella
// or only the services they use.
#pragma once

#include "platform/audio_decoder.h"
#include "platform/clipboard.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/input.h"
#include "platform/locale.h"
#include "platform/loop.h"
#include "platform/loop_hosts.h"
#include "platform/memory.h"
#include "platform/mixer.h"
#include "platform/ports.h"
#include "platform/process.h"
#include "platform/settings_store.h"
#include "platform/sockets.h"
#include "platform/sync.h"
#include "platform/tasks.h"
#include "platform/textout.h"
#include "platform/time.h"
#include "platform/timers.h"
#include "platform/window_services.h"
#include "platform/window_system.h"
