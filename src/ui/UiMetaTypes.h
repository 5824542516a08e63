// The engine and device records that travel in QVariant values of tree and table items.
#pragma once

#include "device/CPartitionManager.h"
#include "engine/FileRecoveryTypes.h"

#include <QMetaType>

Q_DECLARE_METATYPE(FILE_NODE)
Q_DECLARE_METATYPE(PARTITION_ITEM)

// Registers both records under their own names; safe to call more than once.
void RegisterUiMetaTypes();
