// What the activation tests know of their test server module.
#pragma once

#include "platform/winapi.h"

PLATFORM_DEFINE_GUID(CLSID_CjTestServer, 0x2B6E9F30, 0x5D41, 0x4A8C, 0xA1, 0x7E, 0x0C, 0x93, 0x44,
                     0x58, 0xB2, 0x6D);

#define CJ_TEST_SERVER_MODULE "test_server.dll"
#define CJ_TEST_SERVER_MODULE_W OLESTR("test_server.dll")
#define CJ_TEST_SERVER_CLSID_W OLESTR("{2B6E9F30-5D41-4A8C-A17E-0C934458B26D}")
#define CJ_TEST_SERVER_CLSID_KEY_W OLESTR("CLSID\\{2B6E9F30-5D41-4A8C-A17E-0C934458B26D}")

typedef LONG(STDAPICALLTYPE* CjTestServerObjectsFn)();
typedef HRESULT(STDAPICALLTYPE* CjTestRegisterInGlobalTableFn)(IUnknown*, DWORD*);
