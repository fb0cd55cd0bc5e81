#pragma once
// The Registered I/O declarations MinGW's headers lack, written from
// Microsoft's published descriptions (mswsock.h, mswsockdef.h). The functions
// are WINAPI: __stdcall on i686.
#include <winsock2.h>

#include <cstddef>

namespace tavro::platform::win32 {

using RIO_BUFFERID = struct RioBufferIdTag*;
using RIO_CQ = struct RioCqTag*;
using RIO_RQ = struct RioRqTag*;

struct RIO_BUF {
  RIO_BUFFERID BufferId;
  ULONG Offset;
  ULONG Length;
};

struct RIORESULT {
  LONG Status;
  ULONG BytesTransferred;
  ULONGLONG SocketContext;
  ULONGLONG RequestContext;
};

enum RIO_NOTIFICATION_COMPLETION_TYPE { RIO_EVENT_COMPLETION = 1, RIO_IOCP_COMPLETION = 2 };

struct RIO_NOTIFICATION_COMPLETION {
  RIO_NOTIFICATION_COMPLETION_TYPE Type;
  union {
    struct {
      HANDLE EventHandle;
      BOOL NotifyReset;
    } Event;
    struct {
      HANDLE IocpHandle;
      PVOID CompletionKey;
      PVOID Overlapped;
    } Iocp;
  };
};

using LPFN_RIORECEIVE = BOOL(WINAPI*)(RIO_RQ, RIO_BUF*, ULONG, DWORD, PVOID);
using LPFN_RIORECEIVEEX = int(WINAPI*)(RIO_RQ, RIO_BUF*, ULONG, RIO_BUF*, RIO_BUF*, RIO_BUF*,
                                       RIO_BUF*, DWORD, PVOID);
using LPFN_RIOSEND = BOOL(WINAPI*)(RIO_RQ, RIO_BUF*, ULONG, DWORD, PVOID);
using LPFN_RIOSENDEX = BOOL(WINAPI*)(RIO_RQ, RIO_BUF*, ULONG, RIO_BUF*, RIO_BUF*, RIO_BUF*,
                                     RIO_BUF*, DWORD, PVOID);
using LPFN_RIOCLOSECOMPLETIONQUEUE = void(WINAPI*)(RIO_CQ);
using LPFN_RIOCREATECOMPLETIONQUEUE = RIO_CQ(WINAPI*)(DWORD, RIO_NOTIFICATION_COMPLETION*);
using LPFN_RIOCREATEREQUESTQUEUE = RIO_RQ(WINAPI*)(SOCKET, ULONG, ULONG, ULONG, ULONG, RIO_CQ,
                                                   RIO_CQ, PVOID);
using LPFN_RIODEQUEUECOMPLETION = ULONG(WINAPI*)(RIO_CQ, RIORESULT*, ULONG);
using LPFN_RIODEREGISTERBUFFER = void(WINAPI*)(RIO_BUFFERID);
using LPFN_RIONOTIFY = int(WINAPI*)(RIO_CQ);
using LPFN_RIOREGISTERBUFFER = RIO_BUFFERID(WINAPI*)(PCHAR, DWORD);
using LPFN_RIORESIZECOMPLETIONQUEUE = BOOL(WINAPI*)(RIO_CQ, DWORD);
using LPFN_RIORESIZEREQUESTQUEUE = BOOL(WINAPI*)(RIO_RQ, DWORD, DWORD);

struct RIO_EXTENSION_FUNCTION_TABLE {
  DWORD cbSize;
  LPFN_RIORECEIVE RIOReceive;
  LPFN_RIORECEIVEEX RIOReceiveEx;
  LPFN_RIOSEND RIOSend;
  LPFN_RIOSENDEX RIOSendEx;
  LPFN_RIOCLOSECOMPLETIONQUEUE RIOCloseCompletionQueue;
  LPFN_RIOCREATECOMPLETIONQUEUE RIOCreateCompletionQueue;
  LPFN_RIOCREATEREQUESTQUEUE RIOCreateRequestQueue;
  LPFN_RIODEQUEUECOMPLETION RIODequeueCompletion;
  LPFN_RIODEREGISTERBUFFER RIODeregisterBuffer;
  LPFN_RIONOTIFY RIONotify;
  LPFN_RIOREGISTERBUFFER RIORegisterBuffer;
  LPFN_RIORESIZECOMPLETIONQUEUE RIOResizeCompletionQueue;
  LPFN_RIORESIZEREQUESTQUEUE RIOResizeRequestQueue;
};

// {8509E081-96DD-4005-B165-9E2EE8C79E3F}
inline constexpr GUID WSAID_MULTIPLE_RIO = {
    0x8509e081, 0x96dd, 0x4005, {0xb1, 0x65, 0x9e, 0x2e, 0xe8, 0xc7, 0x9e, 0x3f}};
inline constexpr DWORD SIO_GET_MULTIPLE_EXTENSION_FUNCTION_POINTER = _WSAIORW(IOC_WS2, 36);

inline const RIO_BUFFERID RIO_INVALID_BUFFERID = reinterpret_cast<RIO_BUFFERID>(0xFFFFFFFF);
inline constexpr ULONG RIO_CORRUPT_CQ = 0xFFFFFFFF;

#if defined(_WIN64)
static_assert(sizeof(RIO_EXTENSION_FUNCTION_TABLE) == 112);
static_assert(offsetof(RIO_EXTENSION_FUNCTION_TABLE, RIOReceive) == 8);
static_assert(sizeof(RIO_BUF) == 16);
static_assert(sizeof(RIO_NOTIFICATION_COMPLETION) == 32);
#else
static_assert(sizeof(RIO_EXTENSION_FUNCTION_TABLE) == 56);
static_assert(offsetof(RIO_EXTENSION_FUNCTION_TABLE, RIOReceive) == 4);
static_assert(sizeof(RIO_BUF) == 12);
static_assert(sizeof(RIO_NOTIFICATION_COMPLETION) == 16);
#endif
static_assert(offsetof(RIO_EXTENSION_FUNCTION_TABLE, RIOResizeRequestQueue) ==
              sizeof(RIO_EXTENSION_FUNCTION_TABLE) - sizeof(void*));
static_assert(sizeof(RIORESULT) == 24);
static_assert(offsetof(RIORESULT, SocketContext) == 8);
static_assert(offsetof(RIORESULT, RequestContext) == 16);

}  // namespace tavro::platform::win32
