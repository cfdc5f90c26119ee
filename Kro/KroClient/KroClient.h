// KroClient: the client library in one include: the ORB's set-up
// (ClientOrb, RunClient), operations (AsyncClient, Operation, Callbacks), the
// terminal progress bar (ProgressBar) and the base of a callback object of
// one's own (CallbackServant).
#ifndef KROCLIENT_KROCLIENT_H
#define KROCLIENT_KROCLIENT_H

#include "KroClient/AsyncClient.h"
#include "KroClient/CallbackServant.h"
#include "KroClient/Callbacks.h"
#include "KroClient/ClientMain.h"
#include "KroClient/ClientOrb.h"
#include "KroClient/Operation.h"
#include "KroClient/ProgressBar.h"

#endif
