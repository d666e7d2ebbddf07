// temp_system: a throw-away control-system tree for tests, with VX_ROOT and
// VX_SYSTEM pointing at it while the object lives.
#ifndef QUON_TEST_TEMP_SYSTEM_H
#define QUON_TEST_TEMP_SYSTEM_H

#include <string>

class temp_system {
public:
    temp_system();
    ~temp_system();
    temp_system(const temp_system&) = delete;
    temp_system& operator=(const temp_system&) = delete;

    // Writes `contents` as dev_NNN.ini of `device`.
    void writeDevice(int device, const std::string& contents) const;
    // A device file whose "Database" section records `destinations`.
    void writeRouter(int device, int destinations) const;
    void writeFile(const std::string& name, const std::string& contents) const;
    std::string folder() const;  // .../config/system

private:
    std::string root_;
};

#endif
