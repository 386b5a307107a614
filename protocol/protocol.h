#pragma once
// The controller command protocol in one include: command texts, frames, replies, waits.

#include "protocol/commands.h"
#include "protocol/frame.h"
#include "protocol/replies.h"
#include "protocol/wait.h"
