#pragma once
// The settings backup module in one include (no Qt): the settings image and record, the
// backup file, the image read and write sequences, the settings record's transfer, the
// controller search and report suspension of the memory tools, and the pin definition.

#include "memtools/backup_file.h"
#include "memtools/controller_search.h"
#include "memtools/image_transfer.h"
#include "memtools/pin_definition.h"
#include "memtools/settings_image.h"
#include "memtools/settings_transfer.h"
