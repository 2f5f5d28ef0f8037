#pragma once
// corvane_burn_watch: watches the owner burn rate of every Corvane subnet,
// keeps the last values in a JSON state file and reports changes to one
// Telegram chat. This header gathers the subsystems' own headers for users;
// nothing inside the library includes it.
//
// Every operation runs on the caller's thread and blocks it. Errors are thrown
// as the types in core/errors.hpp; failures of an answer (an HTTP error, a
// body that is not JSON, a refused message) come back as values. The host
// seams (clock, sleep, interrupt check, log output) are in core/host/seams.hpp.
#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/json/value.hpp"
#include "corvane_burn_watch/core/settings.hpp"
#include "corvane_burn_watch/core/subnet_row.hpp"
#include "corvane_burn_watch/data_client/data_client.hpp"
#include "corvane_burn_watch/driver/driver.hpp"
#include "corvane_burn_watch/driver/mutes.hpp"
#include "corvane_burn_watch/driver/test_message.hpp"
#include "corvane_burn_watch/telegram/bot_queries.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"
