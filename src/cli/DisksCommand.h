// "orvanne-cli disks": the device tree as the device page shows it.
#pragma once

#include <string>
#include <vector>

// Registers the images, then prints each disk and its partitions; 0, or 2 for an unreadable image.
int RunDisksCommand(const std::vector<std::string>& vecImages);
