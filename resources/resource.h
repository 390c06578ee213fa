// Identifiers of the saver's resources.
#ifndef VANTREL_RESOURCE_H
#define VANTREL_RESOURCE_H

#define IDI_SAVER_ICON_GROUP 139
#define IDD_CONFIG 2003
#define IDD_ABOUT 109

#endif
