// Resource identifiers of qalLogin.exe.
#pragma once

#define IDB_SKIN          102  // "PNG": the skin, 1221 x 739
#define IDB_LOGO          103  // "PNG": the title logo, 369 x 177
#define IDB_BTN_CLOSE     104  // "PNG": close button face, 35 x 31
#define IDB_BTN_MINIMISE  105  // "PNG": minimise button face, 35 x 31
#define IDB_BTN_CLEAR     106  // "PNG": clear-traces button face, 73 x 24
#define IDB_BTN_REPAIR    109  // "PNG": repair button face, 42 x 24
#define IDI_LAUNCHER      113  // icon group
