// "orvanne-cli disks": the device tree as the device page shows it.
#pragma once

#include <string>
#include <vector>

class CPartitionManager;

// Tells on stderr which table entries ran past the end of their disk and what was done.
void PrintClampedPartitions(const CPartitionManager& manager);

// Registers the images, then prints each disk and its partitions; 0, or 2 for an unreadable image.
int RunDisksCommand(const std::vector<std::string>& vecImages);
