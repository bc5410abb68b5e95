/*
 * A test-only kernel driver that gives a Wine prefix volumes: one device per volume described
 * under its service key, answering the volume-number query, and linked into the object namespace
 * under a drive letter and a volume interface's link name. It is never part of ZOLTMgr.
 *
 * Service key values, per volume, under the subkeys Volume0, Volume1, ... (the first missing one
 * ends the list):
 *   Number       REG_DWORD  the volume number that the query answers
 *   Letter       REG_SZ     optional, such as "T:"
 *   Link         REG_SZ     optional, the interface's link name (STORAGE#Volume#...)
 *   Manager      REG_SZ     the volume manager's name, at most 8 characters
 *   OpenStatus   REG_DWORD  optional NTSTATUS that every open of the volume fails with
 *   QueryStatus  REG_DWORD  optional NTSTATUS that every query fails with
 */

#include <ntddk.h>

#define ZOLT_IOCTL_VOLUME_QUERY_VOLUME_NUMBER 0x0056001C
#define ZOLT_MAX_VOLUMES 10 /* Volume0 to Volume9 */

typedef struct {
  ULONG VolumeNumber;
  WCHAR VolumeManagerName[8];
} ZOLT_VOLUME_NUMBER;

typedef struct {
  ZOLT_VOLUME_NUMBER Answer;
  NTSTATUS OpenStatus;
  NTSTATUS QueryStatus;
} ZOLT_VOLUME;

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
  const ZOLT_VOLUME* volume = device->DeviceExtension;
  return Complete(irp, volume->OpenStatus, 0);
}

static NTSTATUS DispatchSucceed(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  const ZOLT_VOLUME* volume = device->DeviceExtension;
  const IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->Parameters.DeviceIoControl.IoControlCode != ZOLT_IOCTL_VOLUME_QUERY_VOLUME_NUMBER) {
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
  if (volume->QueryStatus != STATUS_SUCCESS) return Complete(irp, volume->QueryStatus, 0);
  if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(ZOLT_VOLUME_NUMBER)) {
    return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  }
  RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &volume->Answer, sizeof(ZOLT_VOLUME_NUMBER));
  return Complete(irp, STATUS_SUCCESS, sizeof(ZOLT_VOLUME_NUMBER));
}

/* Reads one value of the open key into `buffer`; the data starts at `*data`. */
static NTSTATUS QueryValue(HANDLE key, const WCHAR* name, UCHAR* buffer, ULONG size,
                           KEY_VALUE_PARTIAL_INFORMATION** data) {
  UNICODE_STRING valueName;
  ULONG length = 0;
  RtlInitUnicodeString(&valueName, name);
  *data = (KEY_VALUE_PARTIAL_INFORMATION*)buffer;
  return ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, buffer, size, &length);
}

static ULONG DwordValue(HANDLE key, const WCHAR* name, ULONG fallback) {
  UCHAR buffer[64];
  KEY_VALUE_PARTIAL_INFORMATION* data;
  if (!NT_SUCCESS(QueryValue(key, name, buffer, sizeof(buffer), &data)) || data->DataLength != 4) {
    return fallback;
  }
  return *(const ULONG*)data->Data;
}

/* A string value after `prefix`, as a counted string in `text` (room for `room` characters). */
static BOOLEAN StringValue(HANDLE key, const WCHAR* name, const WCHAR* prefix, WCHAR* text,
                           USHORT room, UNICODE_STRING* result) {
  UCHAR buffer[1024];
  KEY_VALUE_PARTIAL_INFORMATION* data;
  USHORT length = 0;
  if (!NT_SUCCESS(QueryValue(key, name, buffer, sizeof(buffer), &data)) || data->Type != REG_SZ) {
    return FALSE;
  }
  while (prefix && *prefix && length < room) text[length++] = *prefix++;
  for (ULONG i = 0; i < data->DataLength / sizeof(WCHAR) && length < room; ++i) {
    const WCHAR c = ((const WCHAR*)data->Data)[i];
    if (c == 0) break;
    text[length++] = c;
  }
  result->Buffer = text;
  result->Length = (USHORT)(length * sizeof(WCHAR));
  result->MaximumLength = (USHORT)(room * sizeof(WCHAR));
  return length > 0;
}

static void CreateVolume(PDRIVER_OBJECT driver, HANDLE key, ULONG index) {
  WCHAR deviceText[] = L"\\Device\\ZoltVolume0";
  UNICODE_STRING deviceName;
  PDEVICE_OBJECT device = NULL;
  WCHAR linkText[512];
  UNICODE_STRING link;
  WCHAR manager[16];
  UNICODE_STRING managerName;
  ZOLT_VOLUME* volume;

  deviceText[sizeof(deviceText) / sizeof(WCHAR) - 2] = (WCHAR)(L'A' + index);
  RtlInitUnicodeString(&deviceName, deviceText);
  if (!NT_SUCCESS(IoCreateDevice(driver, sizeof(ZOLT_VOLUME), &deviceName, FILE_DEVICE_UNKNOWN, 0,
                                 FALSE, &device))) {
    return;
  }
  volume = device->DeviceExtension;
  RtlZeroMemory(volume, sizeof(*volume));
  volume->Answer.VolumeNumber = DwordValue(key, L"Number", 0);
  for (int i = 0; i < 8; ++i) volume->Answer.VolumeManagerName[i] = L' ';
  if (StringValue(key, L"Manager", NULL, manager, 8, &managerName)) {
    RtlCopyMemory(volume->Answer.VolumeManagerName, manager, managerName.Length);
  }
  volume->OpenStatus = (NTSTATUS)DwordValue(key, L"OpenStatus", STATUS_SUCCESS);
  volume->QueryStatus = (NTSTATUS)DwordValue(key, L"QueryStatus", STATUS_SUCCESS);
  device->Flags &= ~DO_DEVICE_INITIALIZING;

  if (StringValue(key, L"Letter", L"\\??\\", linkText, 512, &link)) {
    IoCreateSymbolicLink(&link, &deviceName);
  }
  if (StringValue(key, L"Link", L"\\??\\", linkText, 512, &link)) {
    IoCreateSymbolicLink(&link, &deviceName);
  }
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchSucceed;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchSucceed;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;

  for (ULONG index = 0; index < ZOLT_MAX_VOLUMES; ++index) {
    WCHAR pathText[512];
    UNICODE_STRING path = {0, sizeof(pathText), pathText};
    WCHAR subKey[] = L"\\Volume0";
    UNICODE_STRING sub;
    OBJECT_ATTRIBUTES attributes;
    HANDLE key = NULL;

    subKey[7] = (WCHAR)(L'0' + index);
    RtlInitUnicodeString(&sub, subKey);
    RtlCopyUnicodeString(&path, registryPath);
    if (!NT_SUCCESS(RtlAppendUnicodeStringToString(&path, &sub))) break;
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                               NULL);
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) break;
    CreateVolume(driver, key, index);
    ZwClose(key);
  }
  return STATUS_SUCCESS;
}
