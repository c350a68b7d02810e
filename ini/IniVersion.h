// The version of the library and its programs. CMake reads it from here, so
// this line is the only place it is written.
#ifndef INI_INIVERSION_H
#define INI_INIVERSION_H

namespace ini {

inline constexpr const char* version = "0.1.0";

}  // namespace ini

#endif  // INI_INIVERSION_H
