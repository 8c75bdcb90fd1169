/* The library's version, as the project's build gives it (written by the
 * build from CMakeLists.txt; VexaComm_GetVersion gives the version of the
 * library actually loaded). */
#ifndef VEXACOMM_VERSION_H
#define VEXACOMM_VERSION_H

#define VEXACOMM_VERSION_MAJOR 0
#define VEXACOMM_VERSION_MINOR 2
#define VEXACOMM_VERSION_PATCH 0
#define VEXACOMM_VERSION_STRING "0.2.0"

#endif /* VEXACOMM_VERSION_H */
