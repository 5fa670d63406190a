#include "tests/support/TestMedia.h"

namespace tolvarin {

Media testDisk(const std::string& id, const std::string& size, const std::string& interface,
               const std::string& uuid) {
    Media m;
    m.setIsPrimaryDisk(true);
    m.setPrimaryDiskID(id);
    m.setPrimaryDiskSize(size);
    m.setInterfaceType(interface);
    m.setUUID(uuid);
    return m;
}

Media testVolume(const Media& on, const std::string& id, const std::string& size,
                 const std::string& uuid) {
    Media m;
    m.setIsPrimaryDisk(false);
    m.setPrimaryDiskID(on.primaryDiskID());
    m.setPrimaryDiskSize(on.primaryDiskSize());
    m.setInterfaceType(on.interfaceType());
    m.setVolumeDiskID(id);
    m.setVolumePartitionSize(size);
    m.setUUID(uuid);
    return m;
}

} // namespace tolvarin
