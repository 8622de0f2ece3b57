#include "host/system/system_messages.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <iterator>
#include <new>

#include "base/win32_errors.h"

namespace quorvant {
namespace {

// en-US message texts as the system message tables hold them, taken from the
// MessageText of each code in the Windows SDK winerror.h. A line break of the
// message source is CR LF in the returned text, and so is the end of the
// last line. Sorted by code: looked up by binary search.
constexpr SystemMessageEntry kMessages[] = {
    {win32::kErrorSuccess, "The operation completed successfully.\r\n"},
    {win32::kErrorInvalidFunction, "Incorrect function.\r\n"},
    {win32::kErrorFileNotFound,
     "The system cannot find the file specified.\r\n"},
    {win32::kErrorPathNotFound,
     "The system cannot find the path specified.\r\n"},
    {win32::kErrorTooManyOpenFiles, "The system cannot open the file.\r\n"},
    {win32::kErrorAccessDenied, "Access is denied.\r\n"},
    {win32::kErrorInvalidHandle, "The handle is invalid.\r\n"},
    {win32::kErrorArenaTrashed,
     "The storage control blocks were destroyed.\r\n"},
    {win32::kErrorNotEnoughMemory,
     "Not enough memory resources are available to process this command.\r\n"},
    {win32::kErrorInvalidBlock,
     "The storage control block address is invalid.\r\n"},
    {win32::kErrorBadEnvironment, "The environment is incorrect.\r\n"},
    {win32::kErrorBadFormat,
     "An attempt was made to load a program with an incorrect format.\r\n"},
    {win32::kErrorInvalidAccess, "The access code is invalid.\r\n"},
    {win32::kErrorInvalidData, "The data is invalid.\r\n"},
    {win32::kErrorOutofmemory,
     "Not enough memory resources are available to complete this "
     "operation.\r\n"},
    {win32::kErrorInvalidDrive,
     "The system cannot find the drive specified.\r\n"},
    {win32::kErrorCurrentDirectory, "The directory cannot be removed.\r\n"},
    {win32::kErrorNotSameDevice,
     "The system cannot move the file to a different disk drive.\r\n"},
    {win32::kErrorNoMoreFiles, "There are no more files.\r\n"},
    {win32::kErrorWriteProtect, "The media is write protected.\r\n"},
    {win32::kErrorBadUnit, "The system cannot find the device specified.\r\n"},
    {win32::kErrorNotReady, "The device is not ready.\r\n"},
    {win32::kErrorBadCommand, "The device does not recognize the command.\r\n"},
    {win32::kErrorCrc, "Data error (cyclic redundancy check).\r\n"},
    {win32::kErrorBadLength,
     "The program issued a command but the command length is incorrect.\r\n"},
    {win32::kErrorSeek,
     "The drive cannot locate a specific area or track on the disk.\r\n"},
    {win32::kErrorNotDosDisk,
     "The specified disk or diskette cannot be accessed.\r\n"},
    {win32::kErrorSectorNotFound,
     "The drive cannot find the sector requested.\r\n"},
    {win32::kErrorOutOfPaper, "The printer is out of paper.\r\n"},
    {win32::kErrorWriteFault,
     "The system cannot write to the specified device.\r\n"},
    {win32::kErrorReadFault,
     "The system cannot read from the specified device.\r\n"},
    {win32::kErrorGenFailure,
     "A device attached to the system is not functioning.\r\n"},
    {win32::kErrorSharingViolation,
     "The process cannot access the file because it is being used by another "
     "process.\r\n"},
    {win32::kErrorLockViolation,
     "The process cannot access the file because another process has locked "
     "a portion of the file.\r\n"},
    {win32::kErrorWrongDisk,
     "The wrong diskette is in the drive.\r\nInsert %2 (Volume Serial "
     "Number: %3) into drive %1.\r\n"},
    {win32::kErrorSharingBufferExceeded,
     "Too many files opened for sharing.\r\n"},
    {win32::kErrorHandleEof, "Reached the end of the file.\r\n"},
    {win32::kErrorHandleDiskFull, "The disk is full.\r\n"},
    {win32::kErrorNotSupported, "The request is not supported.\r\n"},
    {win32::kErrorRemNotList,
     "Windows cannot find the network path. Verify that the network path is "
     "correct and the destination computer is not busy or turned off. If "
     "Windows still cannot find the network path, contact your network "
     "administrator.\r\n"},
    {win32::kErrorDupName,
     "You were not connected because a duplicate name exists on the network. "
     "If joining a domain, go to System in Control Panel to change the "
     "computer name and try again. If joining a workgroup, choose another "
     "workgroup name.\r\n"},
    {win32::kErrorBadNetpath, "The network path was not found.\r\n"},
    {win32::kErrorNetworkBusy, "The network is busy.\r\n"},
    {win32::kErrorDevNotExist,
     "The specified network resource or device is no longer available.\r\n"},
    {win32::kErrorTooManyCmds,
     "The network BIOS command limit has been reached.\r\n"},
    {win32::kErrorAdapHdwErr, "A network adapter hardware error occurred.\r\n"},
    {win32::kErrorBadNetResp,
     "The specified server cannot perform the requested operation.\r\n"},
    {win32::kErrorUnexpNetErr, "An unexpected network error occurred.\r\n"},
    {win32::kErrorBadRemAdap, "The remote adapter is not compatible.\r\n"},
    {win32::kErrorPrintqFull, "The printer queue is full.\r\n"},
    {win32::kErrorNoSpoolSpace,
     "Space to store the file waiting to be printed is not available on the "
     "server.\r\n"},
    {win32::kErrorPrintCancelled,
     "Your file waiting to be printed was deleted.\r\n"},
    {win32::kErrorNetnameDeleted,
     "The specified network name is no longer available.\r\n"},
    {win32::kErrorNetworkAccessDenied, "Network access is denied.\r\n"},
    {win32::kErrorBadDevType, "The network resource type is not correct.\r\n"},
    {win32::kErrorBadNetName, "The network name cannot be found.\r\n"},
    {win32::kErrorTooManyNames,
     "The name limit for the local computer network adapter card was "
     "exceeded.\r\n"},
    {win32::kErrorTooManySess,
     "The network BIOS session limit was exceeded.\r\n"},
    {win32::kErrorSharingPaused,
     "The remote server has been paused or is in the process of being "
     "started.\r\n"},
    {win32::kErrorReqNotAccep,
     "No more connections can be made to this remote computer at this time "
     "because there are already as many connections as the computer can "
     "accept.\r\n"},
    {win32::kErrorRedirPaused,
     "The specified printer or disk device has been paused.\r\n"},
    {win32::kErrorFileExists, "The file exists.\r\n"},
    {win32::kErrorCannotMake, "The directory or file cannot be created.\r\n"},
    {win32::kErrorFailI24, "Fail on INT 24.\r\n"},
    {win32::kErrorOutOfStructures,
     "Storage to process this request is not available.\r\n"},
    {win32::kErrorAlreadyAssigned,
     "The local device name is already in use.\r\n"},
    {win32::kErrorInvalidPassword,
     "The specified network password is not correct.\r\n"},
    {win32::kErrorInvalidParameter, "The parameter is incorrect.\r\n"},
    {win32::kErrorNetWriteFault, "A write fault occurred on the network.\r\n"},
    {win32::kErrorNoProcSlots,
     "The system cannot start another process at this time.\r\n"},
    {win32::kErrorTooManySemaphores,
     "Cannot create another system semaphore.\r\n"},
    {win32::kErrorExclSemAlreadyOwned,
     "The exclusive semaphore is owned by another process.\r\n"},
    {win32::kErrorSemIsSet, "The semaphore is set and cannot be closed.\r\n"},
    {win32::kErrorTooManySemRequests, "The semaphore cannot be set again.\r\n"},
    {win32::kErrorInvalidAtInterruptTime,
     "Cannot request exclusive semaphores at interrupt time.\r\n"},
    {win32::kErrorSemOwnerDied,
     "The previous ownership of this semaphore has ended.\r\n"},
    {win32::kErrorSemUserLimit, "Insert the diskette for drive %1.\r\n"},
    {win32::kErrorDiskChange,
     "The program stopped because an alternate diskette was not inserted.\r\n"},
    {win32::kErrorDriveLocked,
     "The disk is in use or locked by another process.\r\n"},
    {win32::kErrorBrokenPipe, "The pipe has been ended.\r\n"},
    {win32::kErrorOpenFailed,
     "The system cannot open the device or file specified.\r\n"},
    {win32::kErrorBufferOverflow, "The file name is too long.\r\n"},
    {win32::kErrorDiskFull, "There is not enough space on the disk.\r\n"},
    {win32::kErrorNoMoreSearchHandles,
     "No more internal file identifiers available.\r\n"},
    {win32::kErrorInvalidTargetHandle,
     "The target internal file identifier is incorrect.\r\n"},
    {win32::kErrorInvalidCategory,
     "The IOCTL call made by the application program is not correct.\r\n"},
    {win32::kErrorInvalidVerifySwitch,
     "The verify-on-write switch parameter value is not correct.\r\n"},
    {win32::kErrorBadDriverLevel,
     "The system does not support the command requested.\r\n"},
    {win32::kErrorCallNotImplemented,
     "This function is not supported on this system.\r\n"},
    {win32::kErrorSemTimeout, "The semaphore timeout period has expired.\r\n"},
    {win32::kErrorInsufficientBuffer,
     "The data area passed to a system call is too small.\r\n"},
    {win32::kErrorInvalidName,
     "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {win32::kErrorInvalidLevel, "The system call level is not correct.\r\n"},
    {win32::kErrorNoVolumeLabel, "The disk has no volume label.\r\n"},
    {win32::kErrorModNotFound, "The specified module could not be found.\r\n"},
    {win32::kErrorProcNotFound,
     "The specified procedure could not be found.\r\n"},
    {win32::kErrorWaitNoChildren,
     "There are no child processes to wait for.\r\n"},
    {win32::kErrorChildNotComplete,
     "The %1 application cannot be run in Win32 mode.\r\n"},
    {win32::kErrorDirectAccessHandle,
     "Attempt to use a file handle to an open disk partition for an "
     "operation other than raw disk I/O.\r\n"},
    {win32::kErrorNegativeSeek,
     "An attempt was made to move the file pointer before the beginning of "
     "the file.\r\n"},
    {win32::kErrorSeekOnDevice,
     "The file pointer cannot be set on the specified device or file.\r\n"},
    {win32::kErrorDirNotEmpty, "The directory is not empty.\r\n"},
    {win32::kErrorIsSubstPath,
     "The path specified is being used in a substitute.\r\n"},
    {win32::kErrorIsJoinPath,
     "Not enough resources are available to process this command.\r\n"},
    {win32::kErrorPathBusy,
     "The path specified cannot be used at this time.\r\n"},
    {win32::kErrorLabelTooLong,
     "The volume label you entered exceeds the label character limit of the "
     "target file system.\r\n"},
    {win32::kErrorTooManyTcbs, "Cannot create another thread.\r\n"},
    {win32::kErrorSignalRefused,
     "The recipient process has refused the signal.\r\n"},
    {win32::kErrorDiscarded,
     "The segment is already discarded and cannot be locked.\r\n"},
    {win32::kErrorNotLocked, "The segment is already unlocked.\r\n"},
    {win32::kErrorBadThreadidAddr,
     "The address for the thread ID is not correct.\r\n"},
    {win32::kErrorBadArguments, "One or more arguments are not correct.\r\n"},
    {win32::kErrorBadPathname, "The specified path is invalid.\r\n"},
    {win32::kErrorSignalPending, "A signal is already pending.\r\n"},
    {win32::kErrorMaxThrdsReached,
     "No more threads can be created in the system.\r\n"},
    {win32::kErrorLockFailed, "Unable to lock a region of a file.\r\n"},
    {win32::kErrorBusy, "The requested resource is in use.\r\n"},
    {win32::kErrorDeviceSupportInProgress,
     "Device's command support detection is in progress.\r\n"},
    {win32::kErrorCancelViolation,
     "A lock request was not outstanding for the supplied cancel region.\r\n"},
    {win32::kErrorAtomicLocksNotSupported,
     "The file system does not support atomic changes to the lock type.\r\n"},
    {win32::kErrorInvalidSegmentNumber,
     "The system detected a segment number that was not correct.\r\n"},
    {win32::kErrorInvalidOrdinal, "The operating system cannot run %1.\r\n"},
    {win32::kErrorAlreadyExists,
     "Cannot create a file when that file already exists.\r\n"},
    {win32::kErrorInvalidFlagNumber, "The flag passed is not correct.\r\n"},
    {win32::kErrorSemNotFound,
     "The specified system semaphore name was not found.\r\n"},
    {win32::kErrorInvalidExeSignature, "Cannot run %1 in Win32 mode.\r\n"},
    {win32::kErrorBadExeFormat, "%1 is not a valid Win32 application.\r\n"},
    {win32::kErrorEnvvarNotFound,
     "The system could not find the environment option that was entered.\r\n"},
    {win32::kErrorNoSignalSent,
     "No process in the command subtree has a signal handler.\r\n"},
    {win32::kErrorFilenameExcedRange,
     "The filename or extension is too long.\r\n"},
    {win32::kErrorLocked,
     "The segment is locked and cannot be reallocated.\r\n"},
    {win32::kErrorTooManyModules,
     "Too many dynamic-link modules are attached to this program or "
     "dynamic-link module.\r\n"},
    {win32::kErrorNestingNotAllowed, "Cannot nest calls to LoadModule.\r\n"},
    {win32::kErrorExeMachineTypeMismatch,
     "This version of %1 is not compatible with the version of Windows "
     "you're running. Check your computer's system information and then "
     "contact the software publisher.\r\n"},
    {win32::kErrorFileCheckedOut,
     "This file is checked out or locked for editing by another user.\r\n"},
    {win32::kErrorCheckoutRequired,
     "The file must be checked out before saving changes.\r\n"},
    {win32::kErrorBadFileType,
     "The file type being saved or retrieved has been blocked.\r\n"},
    {win32::kErrorFileTooLarge,
     "The file size exceeds the limit allowed and cannot be saved.\r\n"},
    {win32::kErrorFormsAuthRequired,
     "Access Denied. Before opening files in this location, you must first "
     "add the web site to your trusted sites list, browse to the web site, "
     "and select the option to login automatically.\r\n"},
    {win32::kErrorVirusInfected,
     "Operation did not complete successfully because the file contains a "
     "virus or potentially unwanted software.\r\n"},
    {win32::kErrorVirusDeleted,
     "This file contains a virus or potentially unwanted software and cannot "
     "be opened. Due to the nature of this virus or potentially unwanted "
     "software, the file has been removed from this location.\r\n"},
    {win32::kErrorPipeLocal, "The pipe is local.\r\n"},
    {win32::kErrorBadPipe, "The pipe state is invalid.\r\n"},
    {win32::kErrorPipeBusy, "All pipe instances are busy.\r\n"},
    {win32::kErrorNoData, "The pipe is being closed.\r\n"},
    {win32::kErrorPipeNotConnected,
     "No process is on the other end of the pipe.\r\n"},
    {win32::kErrorMoreData, "More data is available.\r\n"},
    {win32::kErrorNoWorkDone,
     "The action requested resulted in no work being done. Error-style "
     "clean-up has been performed.\r\n"},
    {win32::kErrorVcDisconnected, "The session was canceled.\r\n"},
    {win32::kErrorInvalidEaName,
     "The specified extended attribute name was invalid.\r\n"},
    {win32::kErrorEaListInconsistent,
     "The extended attributes are inconsistent.\r\n"},
    {win32::kWaitTimeout, "The wait operation timed out.\r\n"},
    {win32::kErrorNoMoreItems, "No more data is available.\r\n"},
    {win32::kErrorCannotCopy, "The copy functions cannot be used.\r\n"},
    {win32::kErrorDirectory, "The directory name is invalid.\r\n"},
    {win32::kErrorEasDidntFit,
     "The extended attributes did not fit in the buffer.\r\n"},
    {win32::kErrorEaFileCorrupt,
     "The extended attribute file on the mounted file system is corrupt.\r\n"},
    {win32::kErrorEaTableFull,
     "The extended attribute table file is full.\r\n"},
    {win32::kErrorInvalidEaHandle,
     "The specified extended attribute handle is invalid.\r\n"},
    {win32::kErrorEasNotSupported,
     "The mounted file system does not support extended attributes.\r\n"},
    {win32::kErrorNotOwner,
     "Attempt to release mutex not owned by caller.\r\n"},
    {win32::kErrorTooManyPosts, "Too many posts were made to a semaphore.\r\n"},
    {win32::kErrorPartialCopy,
     "Only part of a ReadProcessMemory or WriteProcessMemory request was "
     "completed.\r\n"},
    {win32::kErrorOplockNotGranted, "The oplock request is denied.\r\n"},
    {win32::kErrorInvalidOplockProtocol,
     "An invalid oplock acknowledgment was received by the system.\r\n"},
    {win32::kErrorDiskTooFragmented,
     "The volume is too fragmented to complete this operation.\r\n"},
    {win32::kErrorDeletePending,
     "The file cannot be opened because it is in the process of being "
     "deleted.\r\n"},
    {win32::kErrorSecurityStreamIsInconsistent,
     "The security stream for the given volume is in an inconsistent "
     "state.\r\nPlease run CHKDSK on the volume.\r\n"},
    {win32::kErrorInvalidLockRange,
     "A requested file lock operation cannot be processed due to an invalid "
     "byte range.\r\n"},
    {win32::kErrorNoRangesProcessed,
     "No ranges for the specified operation were able to be processed.\r\n"},
    {win32::kErrorNotAllowedOnSystemFile,
     "Operation is not allowed on a file system internal file.\r\n"},
    {win32::kErrorDiskResourcesExhausted,
     "The physical resources of this disk have been exhausted.\r\n"},
    {win32::kErrorInvalidToken,
     "The token representing the data is invalid.\r\n"},
    {win32::kErrorDeviceFeatureNotSupported,
     "The device does not support the command feature.\r\n"},
    {win32::kErrorMrMidNotFound,
     "The system cannot find message text for message number 0x%1 in the "
     "message file for %2.\r\n"},
    {win32::kErrorScopeNotFound, "The scope specified was not found.\r\n"},
    {win32::kErrorDeviceHardwareError,
     "The request failed due to a fatal device hardware error.\r\n"},
    {win32::kErrorInvalidAddress, "Attempt to access invalid address.\r\n"},
    {win32::kErrorEncryptedFileNotSupported,
     "The specified operation is not supported on an encrypted file.\r\n"},
    {win32::kErrorUserProfileLoad, "User profile cannot be loaded.\r\n"},
    {win32::kErrorAccessDeniedAppdata,
     "Access denied when accessing the user profile.\r\n"},
    {win32::kErrorArithmeticOverflow,
     "Arithmetic result exceeded 32 bits.\r\n"},
    {win32::kErrorPipeConnected,
     "There is a process on other end of the pipe.\r\n"},
    {win32::kErrorPipeListening,
     "Waiting for a process to open the other end of the pipe.\r\n"},
    {win32::kErrorEaAccessDenied,
     "Access to the extended attribute was denied.\r\n"},
    {win32::kErrorOperationAborted,
     "The I/O operation has been aborted because of either a thread exit or "
     "an application request.\r\n"},
    {win32::kErrorIoIncomplete,
     "Overlapped I/O event is not in a signaled state.\r\n"},
    {win32::kErrorIoPending, "Overlapped I/O operation is in progress.\r\n"},
    {win32::kErrorNoaccess, "Invalid access to memory location.\r\n"},
    {win32::kErrorSwaperror, "Error performing inpage operation.\r\n"},
    {win32::kErrorStackOverflow,
     "Recursion too deep; the stack overflowed.\r\n"},
    {win32::kErrorInvalidMessage,
     "The window cannot act on the sent message.\r\n"},
    {win32::kErrorCanNotComplete, "Cannot complete this function.\r\n"},
    {win32::kErrorInvalidFlags, "Invalid flags.\r\n"},
    {win32::kErrorUnrecognizedVolume,
     "The volume does not contain a recognized file system.\r\nPlease make "
     "sure that all required file system drivers are loaded and that the "
     "volume is not corrupted.\r\n"},
    {win32::kErrorFileInvalid,
     "The volume for a file has been externally altered so that the opened "
     "file is no longer valid.\r\n"},
    {win32::kErrorFullscreenMode,
     "The requested operation cannot be performed in full-screen mode.\r\n"},
    {win32::kErrorNoToken,
     "An attempt was made to reference a token that does not exist.\r\n"},
    {win32::kErrorBaddb, "The configuration registry database is corrupt.\r\n"},
    {win32::kErrorBadkey, "The configuration registry key is invalid.\r\n"},
    {win32::kErrorCantopen,
     "The configuration registry key could not be opened.\r\n"},
    {win32::kErrorCantread,
     "The configuration registry key could not be read.\r\n"},
    {win32::kErrorCantwrite,
     "The configuration registry key could not be written.\r\n"},
    {win32::kErrorRegistryRecovered,
     "One of the files in the registry database had to be recovered by use "
     "of a log or alternate copy. The recovery was successful.\r\n"},
    {win32::kErrorRegistryCorrupt,
     "The registry is corrupted. The structure of one of the files "
     "containing registry data is corrupted, or the system's memory image of "
     "the file is corrupted, or the file could not be recovered because the "
     "alternate copy or log was absent or corrupted.\r\n"},
    {win32::kErrorRegistryIoFailed,
     "An I/O operation initiated by the registry failed unrecoverably. The "
     "registry could not read in, or write out, or flush, one of the files "
     "that contain the system's image of the registry.\r\n"},
    {win32::kErrorNotRegistryFile,
     "The system has attempted to load or restore a file into the registry, "
     "but the specified file is not in a registry file format.\r\n"},
    {win32::kErrorKeyDeleted,
     "Illegal operation attempted on a registry key that has been marked for "
     "deletion.\r\n"},
    {win32::kErrorNoLogSpace,
     "System could not allocate the required space in a registry log.\r\n"},
    {win32::kErrorKeyHasChildren,
     "Cannot create a symbolic link in a registry key that already has "
     "subkeys or values.\r\n"},
    {win32::kErrorChildMustBeVolatile,
     "Cannot create a stable subkey under a volatile parent key.\r\n"},
    {win32::kErrorServiceDoesNotExist,
     "The specified service does not exist as an installed service.\r\n"},
    {win32::kErrorServiceNotActive, "The service has not been started.\r\n"},
    {win32::kErrorProcessAborted, "The process terminated unexpectedly.\r\n"},
    {win32::kErrorMediaChanged, "The media in the drive may have changed.\r\n"},
    {win32::kErrorBusReset, "The I/O bus was reset.\r\n"},
    {win32::kErrorNoMediaInDrive, "No media in drive.\r\n"},
    {win32::kErrorNoUnicodeTranslation,
     "No mapping for the Unicode character exists in the target multi-byte "
     "code page.\r\n"},
    {win32::kErrorDllInitFailed,
     "A dynamic link library (DLL) initialization routine failed.\r\n"},
    {win32::kErrorShutdownInProgress, "A system shutdown is in progress.\r\n"},
    {win32::kErrorIoDevice,
     "The request could not be performed because of an I/O device error.\r\n"},
    {win32::kErrorNotEnoughServerMemory,
     "Not enough server memory resources are available to process this "
     "command.\r\n"},
    {win32::kErrorPossibleDeadlock,
     "A potential deadlock condition has been detected.\r\n"},
    {win32::kErrorMappedAlignment,
     "The base address or the file offset specified does not have the proper "
     "alignment.\r\n"},
    {win32::kErrorTooManyLinks,
     "An attempt was made to create more links on a file than the file "
     "system supports.\r\n"},
    {win32::kErrorOldWinVersion,
     "The specified program requires a newer version of Windows.\r\n"},
    {win32::kErrorInvalidDll,
     "One of the library files needed to run this application is damaged.\r\n"},
    {win32::kErrorNoAssociation,
     "No application is associated with the specified file for this "
     "operation.\r\n"},
    {win32::kErrorDllNotFound,
     "One of the library files needed to run this application cannot be "
     "found.\r\n"},
    {win32::kErrorNoMoreUserHandles,
     "The current process has used all of its system allowance of handles "
     "for Window Manager objects.\r\n"},
    {win32::kErrorDeviceRequiresCleaning,
     "The device has indicated that cleaning is required before further "
     "operations are attempted.\r\n"},
    {win32::kErrorDeviceDoorOpen,
     "The device has indicated that its door is open.\r\n"},
    {win32::kErrorDeviceNotConnected, "The device is not connected.\r\n"},
    {win32::kErrorNotFound, "Element not found.\r\n"},
    {win32::kErrorNoMatch,
     "There was no match for the specified key in the index.\r\n"},
    {win32::kErrorSetNotFound,
     "The property set specified does not exist on the object.\r\n"},
    {win32::kErrorUnableToRemoveReplaced,
     "Unable to remove the file to be replaced.\r\n"},
    {win32::kErrorUnableToMoveReplacement,
     "Unable to move the replacement file to the file to be replaced. The "
     "file to be replaced has retained its original name.\r\n"},
    {win32::kErrorUnableToMoveReplacement2,
     "Unable to move the replacement file to the file to be replaced. The "
     "file to be replaced has been renamed using the backup name.\r\n"},
    {win32::kErrorBadDevice, "The specified device name is invalid.\r\n"},
    {win32::kErrorNoNetOrBadPath,
     "The network path was either typed incorrectly, does not exist, or the "
     "network provider is not currently available. Please try retyping the "
     "path or contact your network administrator.\r\n"},
    {win32::kErrorExtendedError, "An extended error has occurred.\r\n"},
    {win32::kErrorSessionCredentialConflict,
     "Multiple connections to a server or shared resource by the same user, "
     "using more than one user name, are not allowed. Disconnect all "
     "previous connections to the server or shared resource and try "
     "again.\r\n"},
    {win32::kErrorNoNetwork, "The network is not present or not started.\r\n"},
    {win32::kErrorCancelled, "The operation was canceled by the user.\r\n"},
    {win32::kErrorUserMappedFile,
     "The requested operation cannot be performed on a file with a "
     "user-mapped section open.\r\n"},
    {win32::kErrorConnectionRefused,
     "The remote computer refused the network connection.\r\n"},
    {win32::kErrorNetworkUnreachable,
     "The network location cannot be reached. For information about network "
     "troubleshooting, see Windows Help.\r\n"},
    {win32::kErrorRequestAborted, "The request was aborted.\r\n"},
    {win32::kErrorConnectionAborted,
     "The network connection was aborted by the local system.\r\n"},
    {win32::kErrorRetry,
     "The operation could not be completed. A retry should be performed.\r\n"},
    {win32::kErrorNotAuthenticated,
     "The operation being requested was not performed because the user has "
     "not been authenticated.\r\n"},
    {win32::kErrorContinue, "Continue with work in progress.\r\n"},
    {win32::kErrorAlreadyInitialized,
     "An attempt was made to perform an initialization operation when "
     "initialization has already been completed.\r\n"},
    {win32::kErrorNoMoreDevices, "No more local devices.\r\n"},
    {win32::kErrorBadUserProfile,
     "The specified user does not have a valid profile.\r\n"},
    {win32::kErrorAccessDisabledByPolicy,
     "This program is blocked by group policy. For more information, contact "
     "your system administrator.\r\n"},
    {win32::kErrorSmartcardSubsystemFailure,
     "The Kerberos protocol encountered an error while attempting to utilize "
     "the smartcard subsystem.\r\n"},
    {win32::kErrorDriverBlocked,
     "This driver has been blocked from loading\r\n"},
    {win32::kErrorDelayLoadFailed,
     "An attempt to delay-load a .dll or get a function address in a "
     "delay-loaded .dll failed.\r\n"},
    {win32::kErrorUnidentifiedError,
     "Insufficient information exists to identify the cause of failure.\r\n"},
    {win32::kErrorInvalidCruntimeParameter,
     "The parameter passed to a C runtime function is incorrect.\r\n"},
    {win32::kErrorImplementationLimit,
     "An operation attempted to exceed an implementation-defined limit.\r\n"},
    {win32::kErrorDiskQuotaExceeded,
     "The requested file operation failed because the storage quota was "
     "exceeded.\r\nTo free up disk space, move files to a different location "
     "or delete unnecessary files. For more information, contact your system "
     "administrator.\r\n"},
    {win32::kErrorContentBlocked,
     "The requested file operation failed because the storage policy blocks "
     "that type of file. For more information, contact your system "
     "administrator.\r\n"},
    {win32::kErrorNotAllAssigned,
     "Not all privileges or groups referenced are assigned to the caller.\r\n"},
    {win32::kErrorUnknownRevision, "The revision level is unknown.\r\n"},
    {win32::kErrorInvalidOwner,
     "This security ID may not be assigned as the owner of this object.\r\n"},
    {win32::kErrorNoImpersonationToken,
     "An attempt has been made to operate on an impersonation token by a "
     "thread that is not currently impersonating a client.\r\n"},
    {win32::kErrorNoSuchLogonSession,
     "A specified logon session does not exist. It may already have been "
     "terminated.\r\n"},
    {win32::kErrorNoSuchPrivilege, "A specified privilege does not exist.\r\n"},
    {win32::kErrorPrivilegeNotHeld,
     "A required privilege is not held by the client.\r\n"},
    {win32::kErrorInvalidAccountName,
     "The name provided is not a properly formed account name.\r\n"},
    {win32::kErrorNoSuchUser, "The specified account does not exist.\r\n"},
    {win32::kErrorWrongPassword,
     "Unable to update the password. The value provided as the current "
     "password is incorrect.\r\n"},
    {win32::kErrorIllFormedPassword,
     "Unable to update the password. The value provided for the new password "
     "contains values that are not allowed in passwords.\r\n"},
    {win32::kErrorPasswordRestriction,
     "Unable to update the password. The value provided for the new password "
     "does not meet the length, complexity, or history requirements of the "
     "domain.\r\n"},
    {win32::kErrorLogonFailure, "The user name or password is incorrect.\r\n"},
    {win32::kErrorAccountRestriction,
     "Account restrictions are preventing this user from signing in. For "
     "example: blank passwords aren't allowed, sign-in times are limited, or "
     "a policy restriction has been enforced.\r\n"},
    {win32::kErrorPasswordExpired,
     "The password for this account has expired.\r\n"},
    {win32::kErrorAccountDisabled,
     "This user can't sign in because this account is currently disabled.\r\n"},
    {win32::kErrorNoneMapped,
     "No mapping between account names and security IDs was done.\r\n"},
    {win32::kErrorInvalidAcl,
     "The access control list (ACL) structure is invalid.\r\n"},
    {win32::kErrorInvalidSid, "The security ID structure is invalid.\r\n"},
    {win32::kErrorInvalidSecurityDescr,
     "The security descriptor structure is invalid.\r\n"},
    {win32::kErrorNoSuchDomain,
     "The specified domain either does not exist or could not be "
     "contacted.\r\n"},
    {win32::kErrorInternalDbCorruption,
     "Unable to complete the requested operation because of either a "
     "catastrophic media failure or a data structure corruption on the "
     "disk.\r\n"},
    {win32::kErrorInternalError, "An internal error occurred.\r\n"},
    {win32::kErrorFileCorrupt,
     "The file or directory is corrupted and unreadable.\r\n"},
    {win32::kErrorDiskCorrupt,
     "The disk structure is corrupted and unreadable.\r\n"},
    {win32::kErrorTimeSkew,
     "There is a time and/or date difference between the client and "
     "server.\r\n"},
    {win32::kErrorInvalidWindowHandle, "Invalid window handle.\r\n"},
    {win32::kErrorInvalidMenuHandle, "Invalid menu handle.\r\n"},
    {win32::kErrorInvalidCursorHandle, "Invalid cursor handle.\r\n"},
    {win32::kErrorInvalidAccelHandle, "Invalid accelerator table handle.\r\n"},
    {win32::kErrorInvalidHookHandle, "Invalid hook handle.\r\n"},
    {win32::kErrorInvalidDwpHandle,
     "Invalid handle to a multiple-window position structure.\r\n"},
    {win32::kErrorTlwWithWschild,
     "Cannot create a top-level child window.\r\n"},
    {win32::kErrorCannotFindWndClass, "Cannot find window class.\r\n"},
    {win32::kErrorWindowOfOtherThread,
     "Invalid window; it belongs to other thread.\r\n"},
    {win32::kErrorHotkeyAlreadyRegistered,
     "Hot key is already registered.\r\n"},
    {win32::kErrorClassAlreadyExists, "Class already exists.\r\n"},
    {win32::kErrorClassDoesNotExist, "Class does not exist.\r\n"},
    {win32::kErrorClassHasWindows, "Class still has open windows.\r\n"},
    {win32::kErrorInvalidIndex, "Invalid index.\r\n"},
    {win32::kErrorInvalidIconHandle, "Invalid icon handle.\r\n"},
    {win32::kErrorNoSystemResources,
     "Insufficient system resources exist to complete the requested "
     "service.\r\n"},
    {win32::kErrorWorkingSetQuota,
     "Insufficient quota to complete the requested service.\r\n"},
    {win32::kErrorCommitmentLimit,
     "The paging file is too small for this operation to complete.\r\n"},
    {win32::kErrorRequiresInteractiveWindowstation,
     "This operation requires an interactive window station.\r\n"},
    {win32::kErrorTimeout,
     "This operation returned because the timeout period expired.\r\n"},
    {win32::kErrorIncorrectSize, "Incorrect size argument.\r\n"},
    {win32::kErrorXmlParseError,
     "Windows was unable to parse the requested XML data.\r\n"},
    {win32::kErrorXmldsigError,
     "An error was encountered while processing an XML digital signature.\r\n"},
    {win32::kRpcSOutOfResources,
     "Not enough resources are available to complete this operation.\r\n"},
    {win32::kRpcSServerUnavailable, "The RPC server is unavailable.\r\n"},
    {win32::kRpcSCallFailed, "The remote procedure call failed.\r\n"},
    {win32::kRpcSStringTooLong, "The string is too long.\r\n"},
    {win32::kRpcSCannotSupport,
     "The requested operation is not supported.\r\n"},
    {win32::kRpcSInternalError,
     "An internal error occurred in a remote procedure call (RPC).\r\n"},
    {win32::kErrorInvalidUserBuffer,
     "The supplied user buffer is not valid for the requested operation.\r\n"},
    {win32::kErrorUnrecognizedMedia,
     "The disk media is not recognized. It may not be formatted.\r\n"},
    {win32::kErrorAccountExpired, "The user's account has expired.\r\n"},
    {win32::kErrorResourceDataNotFound,
     "The specified image file did not contain a resource section.\r\n"},
    {win32::kErrorResourceTypeNotFound,
     "The specified resource type cannot be found in the image file.\r\n"},
    {win32::kErrorResourceNameNotFound,
     "The specified resource name cannot be found in the image file.\r\n"},
    {win32::kErrorResourceLangNotFound,
     "The specified resource language ID cannot be found in the image "
     "file.\r\n"},
    {win32::kErrorNotEnoughQuota,
     "Not enough quota is available to process this command.\r\n"},
    {win32::kErrorInvalidTime, "The specified time is invalid.\r\n"},
    {win32::kErrorPasswordMustChange,
     "The user's password must be changed before signing in.\r\n"},
    {win32::kErrorAccountLockedOut,
     "The referenced account is currently locked out and may not be logged "
     "on to.\r\n"},
    {win32::kErrorObjectNotFound,
     "The object identifier does not represent a valid object.\r\n"},
    {win32::kErrorDatabaseFailure,
     "Unable to read from or write to the database.\r\n"},
    {win32::kErrorDatabaseFull, "The database is full.\r\n"},
    {win32::kErrorInvalidOperation,
     "The operation identifier is not valid.\r\n"},
    {win32::kErrorDeviceNotAvailable, "The device is not ready for use.\r\n"},
    {win32::kErrorNotAReparsePoint,
     "The file or directory is not a reparse point.\r\n"},
    {win32::kErrorInvalidState,
     "The group or resource is not in the correct state to perform the "
     "requested operation.\r\n"},
    {win32::kEPending,
     "The data necessary to complete this operation is not yet available.\r\n"},
    {win32::kEBounds,
     "The operation attempted to access data outside the valid range\r\n"},
    {win32::kEIllegalMethodCall,
     "A method was called at an unexpected time.\r\n"},
    {win32::kENotimpl, "Not implemented\r\n"},
    {win32::kENointerface, "No such interface supported\r\n"},
    {win32::kEPointer, "Invalid pointer\r\n"},
    {win32::kEAbort, "Operation aborted\r\n"},
    {win32::kEFail, "Unspecified error\r\n"},
    {win32::kCoENotSupported, "The operation attempted is not supported.\r\n"},
    {win32::kEUnexpected, "Catastrophic failure\r\n"},
    {win32::kRpcEServerfault, "The server threw an exception.\r\n"},
    {win32::kRpcEChangedMode, "Cannot change thread mode after it is set.\r\n"},
    {win32::kRpcEDisconnected,
     "The object invoked has disconnected from its clients.\r\n"},
    {win32::kRpcEWrongThread,
     "The application called an interface that was marshalled for a "
     "different thread.\r\n"},
    {win32::kRpcEAccessDenied, "Access is denied.\r\n"},
    {win32::kRpcETimeout,
     "This operation returned because the timeout period expired.\r\n"},
    {win32::kRpcEUnexpected, "An internal error occurred.\r\n"},
    {win32::kClassEClassnotavailable, "ClassFactory cannot supply requested class\r\n"},
    {win32::kNteBadUid, "Bad UID.\r\n"},
    {win32::kNteBadHash, "Bad Hash.\r\n"},
    {win32::kNteBadKey, "Bad Key.\r\n"},
    {win32::kNteBadLen, "Bad Length.\r\n"},
    {win32::kNteBadData, "Bad Data.\r\n"},
    {win32::kNteBadSignature, "Invalid Signature.\r\n"},
    {win32::kNteBadVer, "Bad Version of provider.\r\n"},
    {win32::kNteBadAlgid, "Invalid algorithm specified.\r\n"},
    {win32::kNteBadFlags, "Invalid flags specified.\r\n"},
    {win32::kNteBadType, "Invalid type specified.\r\n"},
    {win32::kNteBadKeyState, "Key not valid for use in specified state.\r\n"},
    {win32::kNteBadHashState, "Hash not valid for use in specified state.\r\n"},
    {win32::kNteNoKey, "Key does not exist.\r\n"},
    {win32::kNteNoMemory,
     "Insufficient memory available for the operation.\r\n"},
    {win32::kNteExists, "Object already exists.\r\n"},
    {win32::kNtePerm, "Access denied.\r\n"},
    {win32::kNteNotFound, "Object was not found.\r\n"},
    {win32::kNteDoubleEncrypt, "Data already encrypted.\r\n"},
    {win32::kNteBadProvider, "Invalid provider specified.\r\n"},
    {win32::kNteBadProvType, "Invalid provider type specified.\r\n"},
    {win32::kNteBadPublicKey, "Provider's public key is invalid.\r\n"},
    {win32::kNteBadKeyset, "Keyset does not exist\r\n"},
    {win32::kNteProvTypeNotDef, "Provider type not defined.\r\n"},
    {win32::kNteProvTypeEntryBad,
     "Provider type as registered is invalid.\r\n"},
    {win32::kNteKeysetNotDef, "The keyset is not defined.\r\n"},
    {win32::kNteKeysetEntryBad, "Keyset as registered is invalid.\r\n"},
    {win32::kNteProvTypeNoMatch,
     "Provider type does not match registered value.\r\n"},
    {win32::kNteSignatureFileBad, "The digital signature file is corrupt.\r\n"},
    {win32::kNteProviderDllFail,
     "Provider DLL failed to initialize correctly.\r\n"},
    {win32::kNteProvDllNotFound, "Provider DLL could not be found.\r\n"},
    {win32::kNteBadKeysetParam, "The Keyset parameter is invalid.\r\n"},
    {win32::kNteFail, "An internal error occurred.\r\n"},
    {win32::kNteSysErr, "A base error occurred.\r\n"},
    {win32::kNteSilentContext,
     "Provider could not perform the action since the context was acquired "
     "as silent.\r\n"},
    {win32::kNteTokenKeysetStorageFull,
     "The security token does not have storage space available for an "
     "additional container.\r\n"},
    {win32::kNteTemporaryProfile,
     "The profile for the user is a temporary profile.\r\n"},
    {win32::kNteFixedparameter,
     "The key parameters could not be set because the CSP uses fixed "
     "parameters.\r\n"},
    {win32::kNteInvalidHandle, "The supplied handle is invalid.\r\n"},
    {win32::kNteInvalidParameter, "The parameter is incorrect.\r\n"},
    {win32::kNteBufferTooSmall,
     "The buffer supplied to a function was too small.\r\n"},
    {win32::kNteNotSupported, "The requested operation is not supported.\r\n"},
    {win32::kNteNoMoreItems, "No more data is available.\r\n"},
    {win32::kNteBuffersOverlap,
     "The supplied buffers overlap incorrectly.\r\n"},
    {win32::kNteDecryptionFailure,
     "The specified data could not be decrypted.\r\n"},
    {win32::kNteInternalError, "An internal consistency check failed.\r\n"},
    {win32::kNteUiRequired, "This operation requires input from the user.\r\n"},
    {win32::kNteHmacNotSupported,
     "The cryptographic provider does not support HMAC.\r\n"},
    {win32::kNteDeviceNotReady,
     "The device that is required by this cryptographic provider is not "
     "ready for use.\r\n"},
    {win32::kNteAuthenticationIgnored,
     "The dictionary attack mitigation is triggered and the provided "
     "authorization was ignored by the provider.\r\n"},
    {win32::kNteValidationFailed,
     "The validation of the provided data failed the integrity or signature "
     "validation.\r\n"},
    {win32::kNteIncorrectPassword, "Incorrect password.\r\n"},
    {win32::kNteEncryptionFailure, "Encryption failed.\r\n"},
    {win32::kNteDeviceNotFound,
     "The device that is required by this cryptographic provider is not "
     "found on this platform.\r\n"},
    {win32::kNteUserCancelled, "The action was cancelled by the user.\r\n"},
    {win32::kNtePasswordChangeRequired,
     "The password is no longer valid and must be changed.\r\n"},
    {win32::kNteNotActiveConsole,
     "The operation cannot be completed from Terminal Server client "
     "sessions.\r\n"},
    {win32::kSecEInsufficientMemory,
     "Not enough memory is available to complete this request\r\n"},
    {win32::kSecEInvalidHandle, "The handle specified is invalid\r\n"},
    {win32::kSecEUnsupportedFunction,
     "The function requested is not supported\r\n"},
    {win32::kSecETargetUnknown,
     "The specified target is unknown or unreachable\r\n"},
    {win32::kSecEInternalError,
     "The Local Security Authority cannot be contacted\r\n"},
    {win32::kSecESecpkgNotFound,
     "The requested security package does not exist\r\n"},
    {win32::kSecEInvalidToken,
     "The token supplied to the function is invalid\r\n"},
    {win32::kSecELogonDenied, "The logon attempt failed\r\n"},
    {win32::kSecEUnknownCredentials,
     "The credentials supplied to the package were not recognized\r\n"},
    {win32::kSecENoCredentials,
     "No credentials are available in the security package\r\n"},
    {win32::kSecEMessageAltered,
     "The message or signature supplied for verification has been altered\r\n"},
    {win32::kSecEOutOfSequence,
     "The message supplied for verification is out of sequence\r\n"},
    {win32::kSecEContextExpired,
     "The context has expired and can no longer be used.\r\n"},
    {win32::kSecEIncompleteMessage,
     "The supplied message is incomplete. The signature was not verified.\r\n"},
    {win32::kSecEInvalidParameter,
     "One or more of the parameters passed to the function was invalid.\r\n"},
    {win32::kCryptEMsgError,
     "An error occurred while performing an operation on a cryptographic "
     "message.\r\n"},
    {win32::kCryptEUnknownAlgo, "Unknown cryptographic algorithm.\r\n"},
    {win32::kCryptEOidFormat, "The object identifier is poorly formatted.\r\n"},
    {win32::kCryptEInvalidMsgType, "Invalid cryptographic message type.\r\n"},
    {win32::kCryptEUnexpectedEncoding,
     "Unexpected cryptographic message encoding.\r\n"},
    {win32::kCryptEAuthAttrMissing,
     "The cryptographic message does not contain an expected authenticated "
     "attribute.\r\n"},
    {win32::kCryptEHashValue, "The hash value is not correct.\r\n"},
    {win32::kCryptEInvalidIndex, "The index value is not valid.\r\n"},
    {win32::kCryptEAlreadyDecrypted,
     "The content of the cryptographic message has already been "
     "decrypted.\r\n"},
    {win32::kCryptENotDecrypted,
     "The content of the cryptographic message has not been decrypted "
     "yet.\r\n"},
    {win32::kCryptERecipientNotFound,
     "The enveloped-data message does not contain the specified "
     "recipient.\r\n"},
    {win32::kCryptEControlType, "Invalid control type.\r\n"},
    {win32::kCryptEIssuerSerialnumber,
     "Invalid issuer and/or serial number.\r\n"},
    {win32::kCryptESignerNotFound, "Cannot find the original signer.\r\n"},
    {win32::kCryptEAttributesMissing,
     "The cryptographic message does not contain all of the requested "
     "attributes.\r\n"},
    {win32::kCryptEStreamMsgNotReady,
     "The streamed cryptographic message is not ready to return data.\r\n"},
    {win32::kCryptEStreamInsufficientData,
     "The streamed cryptographic message requires more data to complete the "
     "decode operation.\r\n"},
    {win32::kCryptEBadLen,
     "The length specified for the output data was insufficient.\r\n"},
    {win32::kCryptEBadEncode,
     "An error occurred during encode or decode operation.\r\n"},
    {win32::kCryptEFileError,
     "An error occurred while reading or writing to a file.\r\n"},
    {win32::kCryptENotFound, "Cannot find object or property.\r\n"},
    {win32::kCryptEExists, "The object or property already exists.\r\n"},
    {win32::kCryptENoProvider,
     "No provider was specified for the store or object.\r\n"},
    {win32::kCryptESelfSigned, "The specified certificate is self signed.\r\n"},
    {win32::kCryptEDeletedPrev,
     "The previous certificate or CRL context was deleted.\r\n"},
    {win32::kCryptENoMatch, "Cannot find the requested object.\r\n"},
    {win32::kCryptEUnexpectedMsgType,
     "The certificate does not have a property that references a private "
     "key.\r\n"},
    {win32::kCryptENoKeyProperty,
     "Cannot find the certificate and private key for decryption.\r\n"},
    {win32::kCryptENoDecryptCert,
     "Cannot find the certificate and private key to use for decryption.\r\n"},
    {win32::kCryptEBadMsg,
     "Not a cryptographic message or the cryptographic message is not "
     "formatted correctly.\r\n"},
    {win32::kCryptENoSigner,
     "The signed cryptographic message does not have a signer for the "
     "specified signer index.\r\n"},
    {win32::kCryptEPendingClose,
     "Final closure is pending until additional frees or closes.\r\n"},
    {win32::kCryptERevoked, "The certificate is revoked.\r\n"},
    {win32::kCryptENoRevocationDll,
     "No Dll or exported function was found to verify revocation.\r\n"},
    {win32::kCryptENoRevocationCheck,
     "The revocation function was unable to check revocation for the "
     "certificate.\r\n"},
    {win32::kCryptERevocationOffline,
     "The revocation function was unable to check revocation because the "
     "revocation server was offline.\r\n"},
    {win32::kCryptENotInRevocationDatabase,
     "The certificate is not in the revocation server's database.\r\n"},
    {win32::kCryptEInvalidNumericString,
     "The string contains a non-numeric character.\r\n"},
    {win32::kCryptEInvalidPrintableString,
     "The string contains a non-printable character.\r\n"},
    {win32::kCryptEInvalidIa5String,
     "The string contains a character not in the 7 bit ASCII character "
     "set.\r\n"},
    {win32::kCryptEInvalidX500String,
     "The string contains an invalid X500 name attribute key, oid, value or "
     "delimiter.\r\n"},
    {win32::kCryptENotCharString,
     "The dwValueType for the CERT_NAME_VALUE is not one of the character "
     "strings. Most likely it is either a CERT_RDN_ENCODED_BLOB or "
     "CERT_RDN_OCTET_STRING.\r\n"},
    {win32::kCryptEFileresized,
     "The Put operation cannot continue. The file needs to be resized. "
     "However, there is already a signature present. A complete signing "
     "operation must be done.\r\n"},
    {win32::kCryptESecuritySettings,
     "The cryptographic operation failed due to a local security option "
     "setting.\r\n"},
    {win32::kCryptENoVerifyUsageDll,
     "No DLL or exported function was found to verify subject usage.\r\n"},
    {win32::kCryptENoVerifyUsageCheck,
     "The called function was unable to do a usage check on the subject.\r\n"},
    {win32::kCryptEVerifyUsageOffline,
     "Since the server was offline, the called function was unable to "
     "complete the usage check.\r\n"},
    {win32::kCryptENotInCtl,
     "The subject was not found in a Certificate Trust List (CTL).\r\n"},
    {win32::kCryptENoTrustedSigner,
     "None of the signers of the cryptographic message or certificate trust "
     "list is trusted.\r\n"},
    {win32::kCryptEMissingPubkeyPara,
     "The public key's algorithm parameters are missing.\r\n"},
    {win32::kCryptEObjectLocatorObjectNotFound,
     "An object could not be located using the object locator infrastructure "
     "with the given name.\r\n"},
    {win32::kOssMoreBuf, "OSS ASN.1 Error: Output Buffer is too small.\r\n"},
    {win32::kOssNegativeUinteger,
     "OSS ASN.1 Error: Signed integer is encoded as a unsigned integer.\r\n"},
    {win32::kOssPduRange, "OSS ASN.1 Error: Unknown ASN.1 data type.\r\n"},
    {win32::kOssMoreInput,
     "OSS ASN.1 Error: Output buffer is too small, the decoded data has been "
     "truncated.\r\n"},
    {win32::kOssDataError, "OSS ASN.1 Error: Invalid data.\r\n"},
    {win32::kOssBadArg, "OSS ASN.1 Error: Invalid argument.\r\n"},
    {win32::kOssBadVersion,
     "OSS ASN.1 Error: Encode/Decode version mismatch.\r\n"},
    {win32::kOssOutMemory, "OSS ASN.1 Error: Out of memory.\r\n"},
    {win32::kOssPduMismatch, "OSS ASN.1 Error: Encode/Decode Error.\r\n"},
    {win32::kOssLimited, "OSS ASN.1 Error: Internal Error.\r\n"},
    {win32::kOssBadPtr, "OSS ASN.1 Error: Invalid data.\r\n"},
    {win32::kOssBadTime, "OSS ASN.1 Error: Invalid data.\r\n"},
    {win32::kOssIndefiniteNotSupported,
     "OSS ASN.1 Error: Unsupported BER indefinite-length encoding.\r\n"},
    {win32::kOssMemError, "OSS ASN.1 Error: Access violation.\r\n"},
    {win32::kOssBadTable, "OSS ASN.1 Error: Invalid data.\r\n"},
    {win32::kOssTooLong, "OSS ASN.1 Error: Invalid data.\r\n"},
    {win32::kOssConstraintViolated, "OSS ASN.1 Error: Invalid data.\r\n"},
    {win32::kOssFatalError, "OSS ASN.1 Error: Internal Error.\r\n"},
    {win32::kOssAccessSerializationError,
     "OSS ASN.1 Error: Multi-threading conflict.\r\n"},
    {win32::kOssNullTbl, "OSS ASN.1 Error: Invalid data.\r\n"},
    {win32::kOssNullFcn, "OSS ASN.1 Error: Invalid data.\r\n"},
    {win32::kOssBadEncrules, "OSS ASN.1 Error: Invalid data.\r\n"},
    {win32::kOssUnavailEncrules,
     "OSS ASN.1 Error: Encode/Decode function not implemented.\r\n"},
    {win32::kOssCantOpenTraceWindow, "OSS ASN.1 Error: Trace file error.\r\n"},
    {win32::kOssUnimplemented,
     "OSS ASN.1 Error: Function not implemented.\r\n"},
    {win32::kOssOidDllNotLinked, "OSS ASN.1 Error: Program link error.\r\n"},
    {win32::kOssCantOpenTraceFile, "OSS ASN.1 Error: Trace file error.\r\n"},
    {win32::kOssTraceFileAlreadyOpen, "OSS ASN.1 Error: Trace file error.\r\n"},
    {win32::kOssTableMismatch, "OSS ASN.1 Error: Invalid data.\r\n"},
    {win32::kOssTypeNotSupported, "OSS ASN.1 Error: Invalid data.\r\n"},
    {win32::kOssRealDllNotLinked, "OSS ASN.1 Error: Program link error.\r\n"},
    {win32::kOssRealCodeNotLinked, "OSS ASN.1 Error: Program link error.\r\n"},
    {win32::kOssOutOfRange, "OSS ASN.1 Error: Program link error.\r\n"},
    {win32::kOssCopierDllNotLinked, "OSS ASN.1 Error: Program link error.\r\n"},
    {win32::kOssConstraintDllNotLinked,
     "OSS ASN.1 Error: Program link error.\r\n"},
    {win32::kOssComparatorDllNotLinked,
     "OSS ASN.1 Error: Program link error.\r\n"},
    {win32::kOssComparatorCodeNotLinked,
     "OSS ASN.1 Error: Program link error.\r\n"},
    {win32::kOssMemMgrDllNotLinked, "OSS ASN.1 Error: Program link error.\r\n"},
    {win32::kOssPdvDllNotLinked, "OSS ASN.1 Error: Program link error.\r\n"},
    {win32::kOssPdvCodeNotLinked, "OSS ASN.1 Error: Program link error.\r\n"},
    {win32::kOssApiDllNotLinked, "OSS ASN.1 Error: Program link error.\r\n"},
    {win32::kOssBerderDllNotLinked, "OSS ASN.1 Error: Program link error.\r\n"},
    {win32::kOssPerDllNotLinked, "OSS ASN.1 Error: Program link error.\r\n"},
    {win32::kOssOpenTypeError, "OSS ASN.1 Error: Program link error.\r\n"},
    {win32::kOssMutexNotCreated, "OSS ASN.1 Error: System resource error.\r\n"},
    {win32::kOssCantCloseTraceFile, "OSS ASN.1 Error: Trace file error.\r\n"},
    {win32::kCryptEAsn1Error,
     "ASN1 Certificate encode/decode error code base. The ASN1 error values "
     "are offset by CRYPT_E_ASN1_ERROR.\r\n"},
    {win32::kCryptEAsn1Internal, "ASN1 internal encode or decode error.\r\n"},
    {win32::kCryptEAsn1Eod, "ASN1 unexpected end of data.\r\n"},
    {win32::kCryptEAsn1Corrupt, "ASN1 corrupted data.\r\n"},
    {win32::kCryptEAsn1Large, "ASN1 value too large.\r\n"},
    {win32::kCryptEAsn1Constraint, "ASN1 constraint violated.\r\n"},
    {win32::kCryptEAsn1Memory, "ASN1 out of memory.\r\n"},
    {win32::kCryptEAsn1Overflow, "ASN1 buffer overflow.\r\n"},
    {win32::kCryptEAsn1Badpdu, "ASN1 function not supported for this PDU.\r\n"},
    {win32::kCryptEAsn1Badargs, "ASN1 bad arguments to function call.\r\n"},
    {win32::kCryptEAsn1Badreal, "ASN1 bad real value.\r\n"},
    {win32::kCryptEAsn1Badtag, "ASN1 bad tag value met.\r\n"},
    {win32::kCryptEAsn1Choice, "ASN1 bad choice value.\r\n"},
    {win32::kCryptEAsn1Rule, "ASN1 bad encoding rule.\r\n"},
    {win32::kCryptEAsn1Utf8, "ASN1 bad unicode (UTF8).\r\n"},
    {win32::kCryptEAsn1PduType, "ASN1 bad PDU type.\r\n"},
    {win32::kCryptEAsn1Nyi, "ASN1 not yet implemented.\r\n"},
    {win32::kCryptEAsn1Extended, "ASN1 skipped unknown extension(s).\r\n"},
    {win32::kCryptEAsn1Noeod, "ASN1 end of data expected\r\n"},
    {win32::kCertsrvEBadRequestsubject,
     "The request subject name is invalid or too long.\r\n"},
    {win32::kCertsrvENoRequest, "The request does not exist.\r\n"},
    {win32::kCertsrvEBadRequeststatus,
     "The request's current status does not allow this operation.\r\n"},
    {win32::kCertsrvEPropertyEmpty,
     "The requested property value is empty.\r\n"},
    {win32::kCertsrvEInvalidCaCertificate,
     "The certification authority's certificate contains invalid data.\r\n"},
    {win32::kCertsrvEEnrollDenied,
     "The permissions on this certification authority do not allow the "
     "current user to enroll for certificates.\r\n"},
    {win32::kCertsrvETemplateDenied,
     "The permissions on the certificate template do not allow the current "
     "user to enroll for this type of certificate.\r\n"},
    {win32::kCertsrvEAdminDeniedRequest,
     "The request was denied by a certificate manager or CA "
     "administrator.\r\n"},
    {win32::kCertsrvEWeakSignatureOrKey,
     "A signature algorithm or public key length does not meet the system's "
     "minimum required strength.\r\n"},
    {win32::kXenrollEKeyNotExportable, "The key is not exportable.\r\n"},
    {win32::kXenrollECannotAddRootCert,
     "You cannot add the root CA certificate into your local store.\r\n"},
    {win32::kTrustESystemError,
     "A system-level error occurred while verifying trust.\r\n"},
    {win32::kTrustENoSignerCert,
     "The certificate for the signer of the message is invalid or not "
     "found.\r\n"},
    {win32::kTrustECounterSigner,
     "One of the counter signatures was invalid.\r\n"},
    {win32::kTrustECertSignature,
     "The signature of the certificate cannot be verified.\r\n"},
    {win32::kTrustETimeStamp,
     "The timestamp signature and/or certificate could not be verified or is "
     "malformed.\r\n"},
    {win32::kTrustEBadDigest,
     "The digital signature of the object did not verify.\r\n"},
    {win32::kTrustEMalformedSignature,
     "The digital signature of the object is malformed. For technical "
     "detail, see security bulletin MS13-098.\r\n"},
    {win32::kTrustEBasicConstraints,
     "A certificate's basic constraint extension has not been observed.\r\n"},
    {win32::kTrustEFinancialCriteria,
     "The certificate does not meet or contain the Authenticode(tm) "
     "financial extensions.\r\n"},
    {win32::kTrustEProviderUnknown, "Unknown trust provider.\r\n"},
    {win32::kTrustEActionUnknown,
     "The trust verification action specified is not supported by the "
     "specified trust provider.\r\n"},
    {win32::kTrustESubjectFormUnknown,
     "The form specified for the subject is not one supported or known by "
     "the specified trust provider.\r\n"},
    {win32::kTrustESubjectNotTrusted,
     "The subject is not trusted for the specified action.\r\n"},
    {win32::kDigsigEEncode,
     "Error due to problem in ASN.1 encoding process.\r\n"},
    {win32::kDigsigEDecode,
     "Error due to problem in ASN.1 decoding process.\r\n"},
    {win32::kDigsigEExtensibility,
     "Reading / writing Extensions where Attributes are appropriate, and "
     "vice versa.\r\n"},
    {win32::kDigsigECrypto, "Unspecified cryptographic failure.\r\n"},
    {win32::kPersistESizedefinite,
     "The size of the data could not be determined.\r\n"},
    {win32::kPersistESizeindefinite,
     "The size of the indefinite-sized data could not be determined.\r\n"},
    {win32::kPersistENotselfsizing,
     "This object does not read and write self-sizing data.\r\n"},
    {win32::kTrustENosignature, "No signature was present in the subject.\r\n"},
    {win32::kCertEExpired,
     "A required certificate is not within its validity period when "
     "verifying against the current system clock or the timestamp in the "
     "signed file.\r\n"},
    {win32::kCertEValidityperiodnesting,
     "The validity periods of the certification chain do not nest "
     "correctly.\r\n"},
    {win32::kCertERole,
     "A certificate that can only be used as an end-entity is being used as "
     "a CA or vice versa.\r\n"},
    {win32::kCertEPathlenconst,
     "A path length constraint in the certification chain has been "
     "violated.\r\n"},
    {win32::kCertECritical,
     "A certificate contains an unknown extension that is marked "
     "'critical'.\r\n"},
    {win32::kCertEPurpose,
     "A certificate being used for a purpose other than the ones specified "
     "by its CA.\r\n"},
    {win32::kCertEIssuerchaining,
     "A parent of a given certificate in fact did not issue that child "
     "certificate.\r\n"},
    {win32::kCertEMalformed,
     "A certificate is missing or has an empty value for an important field, "
     "such as a subject or issuer name.\r\n"},
    {win32::kCertEUntrustedroot,
     "A certificate chain processed, but terminated in a root certificate "
     "which is not trusted by the trust provider.\r\n"},
    {win32::kCertEChaining,
     "A certificate chain could not be built to a trusted root authority.\r\n"},
    {win32::kTrustEFail, "Generic trust failure.\r\n"},
    {win32::kCertERevoked,
     "A certificate was explicitly revoked by its issuer.\r\n"},
    {win32::kCertEUntrustedtestroot,
     "The certification path terminates with the test root which is not "
     "trusted with the current policy settings.\r\n"},
    {win32::kCertERevocationFailure,
     "The revocation process could not continue - the certificate(s) could "
     "not be checked.\r\n"},
    {win32::kCertECnNoMatch,
     "The certificate's CN name does not match the passed value.\r\n"},
    {win32::kCertEWrongUsage,
     "The certificate is not valid for the requested usage.\r\n"},
    {win32::kTrustEExplicitDistrust,
     "The certificate was explicitly marked as untrusted by the user.\r\n"},
    {win32::kCertEUntrustedca,
     "A certification chain processed correctly, but one of the CA "
     "certificates is not trusted by the policy provider.\r\n"},
    {win32::kCertEInvalidPolicy, "The certificate has invalid policy.\r\n"},
    {win32::kCertEInvalidName,
     "The certificate has an invalid name. The name is not included in the "
     "permitted list or is explicitly excluded.\r\n"},
    {win32::kScardFInternalError, "An internal consistency check failed.\r\n"},
    {win32::kScardECancelled,
     "The action was cancelled by an SCardCancel request.\r\n"},
    {win32::kScardEInvalidHandle, "The supplied handle was invalid.\r\n"},
    {win32::kScardEInvalidParameter,
     "One or more of the supplied parameters could not be properly "
     "interpreted.\r\n"},
    {win32::kScardEInvalidTarget,
     "Registry startup information is missing or invalid.\r\n"},
    {win32::kScardENoMemory,
     "Not enough memory available to complete this command.\r\n"},
    {win32::kScardFWaitedTooLong,
     "An internal consistency timer has expired.\r\n"},
    {win32::kScardEInsufficientBuffer,
     "The data buffer to receive returned data is too small for the returned "
     "data.\r\n"},
    {win32::kScardEUnknownReader,
     "The specified reader name is not recognized.\r\n"},
    {win32::kScardETimeout,
     "The user-specified timeout value has expired.\r\n"},
    {win32::kScardESharingViolation,
     "The smart card cannot be accessed because of other connections "
     "outstanding.\r\n"},
    {win32::kScardENoSmartcard,
     "The operation requires a smart card, but no smart card is currently in "
     "the device.\r\n"},
    {win32::kScardEUnknownCard,
     "The specified smart card name is not recognized.\r\n"},
    {win32::kScardECantDispose,
     "The system could not dispose of the media in the requested manner.\r\n"},
    {win32::kScardEProtoMismatch,
     "The requested protocols are incompatible with the protocol currently "
     "in use with the smart card.\r\n"},
    {win32::kScardENotReady,
     "The reader or smart card is not ready to accept commands.\r\n"},
    {win32::kScardEInvalidValue,
     "One or more of the supplied parameters values could not be properly "
     "interpreted.\r\n"},
    {win32::kScardESystemCancelled,
     "The action was cancelled by the system, presumably to log off or shut "
     "down.\r\n"},
    {win32::kScardFCommError,
     "An internal communications error has been detected.\r\n"},
    {win32::kScardFUnknownError,
     "An internal error has been detected, but the source is unknown.\r\n"},
    {win32::kScardEInvalidAtr,
     "An ATR obtained from the registry is not a valid ATR string.\r\n"},
    {win32::kScardENotTransacted,
     "An attempt was made to end a non-existent transaction.\r\n"},
    {win32::kScardEReaderUnavailable,
     "The specified reader is not currently available for use.\r\n"},
    {win32::kScardPShutdown,
     "The operation has been aborted to allow the server application to "
     "exit.\r\n"},
    {win32::kScardEPciTooSmall, "The PCI Receive buffer was too small.\r\n"},
    {win32::kScardEReaderUnsupported,
     "The reader driver does not meet minimal requirements for support.\r\n"},
    {win32::kScardEDuplicateReader,
     "The reader driver did not produce a unique reader name.\r\n"},
    {win32::kScardECardUnsupported,
     "The smart card does not meet minimal requirements for support.\r\n"},
    {win32::kScardENoService,
     "The Smart Card Resource Manager is not running.\r\n"},
    {win32::kScardEServiceStopped,
     "The Smart Card Resource Manager has shut down.\r\n"},
    {win32::kScardEUnexpected, "An unexpected card error has occurred.\r\n"},
    {win32::kScardEIccInstallation,
     "No Primary Provider can be found for the smart card.\r\n"},
    {win32::kScardEIccCreateorder,
     "The requested order of object creation is not supported.\r\n"},
    {win32::kScardEUnsupportedFeature,
     "This smart card does not support the requested feature.\r\n"},
    {win32::kScardEDirNotFound,
     "The identified directory does not exist in the smart card.\r\n"},
    {win32::kScardEFileNotFound,
     "The identified file does not exist in the smart card.\r\n"},
    {win32::kScardENoDir,
     "The supplied path does not represent a smart card directory.\r\n"},
    {win32::kScardENoFile,
     "The supplied path does not represent a smart card file.\r\n"},
    {win32::kScardENoAccess, "Access is denied to this file.\r\n"},
    {win32::kScardEWriteTooMany,
     "The smart card does not have enough memory to store the "
     "information.\r\n"},
    {win32::kScardEBadSeek,
     "There was an error trying to set the smart card file object "
     "pointer.\r\n"},
    {win32::kScardEInvalidChv, "The supplied PIN is incorrect.\r\n"},
    {win32::kScardEUnknownResMng,
     "An unrecognized error code was returned from a layered component.\r\n"},
    {win32::kScardENoSuchCertificate,
     "The requested certificate does not exist.\r\n"},
    {win32::kScardECertificateUnavailable,
     "The requested certificate could not be obtained.\r\n"},
    {win32::kScardENoReadersAvailable, "Cannot find a smart card reader.\r\n"},
    {win32::kScardECommDataLost,
     "A communications error with the smart card has been detected. Retry "
     "the operation.\r\n"},
    {win32::kScardENoKeyContainer,
     "The requested key container does not exist on the smart card.\r\n"},
    {win32::kScardEServerTooBusy,
     "The Smart Card Resource Manager is too busy to complete this "
     "operation.\r\n"},
    {win32::kScardEPinCacheExpired,
     "The smart card PIN cache has expired.\r\n"},
    {win32::kScardENoPinCache, "The smart card PIN cannot be cached.\r\n"},
    {win32::kScardEReadOnlyCard,
     "The smart card is read only and cannot be written to.\r\n"},
    {win32::kScardWUnsupportedCard,
     "The reader cannot communicate with the smart card, due to ATR "
     "configuration conflicts.\r\n"},
    {win32::kScardWUnresponsiveCard,
     "The smart card is not responding to a reset.\r\n"},
    {win32::kScardWUnpoweredCard,
     "Power has been removed from the smart card, so that further "
     "communication is not possible.\r\n"},
    {win32::kScardWResetCard,
     "The smart card has been reset, so any shared state information is "
     "invalid.\r\n"},
    {win32::kScardWRemovedCard,
     "The smart card has been removed, so that further communication is not "
     "possible.\r\n"},
    {win32::kScardWSecurityViolation,
     "Access was denied because of a security violation.\r\n"},
    {win32::kScardWWrongChv,
     "The card cannot be accessed because the wrong PIN was presented.\r\n"},
    {win32::kScardWChvBlocked,
     "The card cannot be accessed because the maximum number of PIN entry "
     "attempts has been reached.\r\n"},
    {win32::kScardWEof, "The end of the smart card file has been reached.\r\n"},
    {win32::kScardWCancelledByUser,
     "The action was cancelled by the user.\r\n"},
    {win32::kScardWCardNotAuthenticated,
     "No PIN was presented to the smart card.\r\n"},
    {win32::kScardWCacheItemNotFound,
     "The requested item could not be found in the cache.\r\n"},
    {win32::kScardWCacheItemStale,
     "The requested cache item is too old and was deleted from the cache.\r\n"},
    {win32::kScardWCacheItemTooBig,
     "The new cache item exceeds the maximum per-item size defined for the "
     "cache.\r\n"},
};

static_assert(std::ranges::is_sorted(kMessages, std::ranges::less{},
                                     &SystemMessageEntry::code),
              "kMessages must stay sorted by code for the binary search");
static_assert(std::ranges::adjacent_find(kMessages, std::ranges::equal_to{},
                                         &SystemMessageEntry::code) ==
                  std::ranges::end(kMessages),
              "each code has one message");

std::string_view LookUp(uint32_t code) noexcept {
  const auto* it = std::ranges::lower_bound(
      kMessages, code, std::ranges::less{}, &SystemMessageEntry::code);
  if (it == std::ranges::end(kMessages) || it->code != code) return {};
  return it->text;
}

}  // namespace

std::span<const SystemMessageEntry> SystemMessageTable() noexcept {
  return kMessages;
}

std::string_view SystemMessageView(uint32_t code) noexcept {
  std::string_view text = LookUp(code);
  // FormatMessage answers an HRESULT_FROM_WIN32 value with the text of the
  // Win32 code it carries (0x80070005 reads "Access is denied.").
  if (text.empty() && (code & 0xFFFF0000u) == 0x80070000u) {
    text = LookUp(code & 0xFFFFu);
  }
  return text;
}

std::string_view SystemMessageLine(uint32_t code) noexcept {
  std::string_view text = SystemMessageView(code);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

std::string SystemMessageText(uint32_t code) noexcept {
  try {
    return std::string(SystemMessageView(code));
  } catch (const std::bad_alloc&) {
    return std::string();
  }
}

std::string CapiErrorMessage(uint32_t code) noexcept {
  try {
    if (code == 0) {
      // "成功" in code page 950 (Big5), then "(0)".
      return std::string(
          "\xA6\xA8\xA5\x5C"
          "(0)");
    }
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "(0x%08X)",
                  static_cast<unsigned>(code));
    std::string message(SystemMessageView(code));
    message += suffix;
    return message;
  } catch (const std::bad_alloc&) {
    return std::string();
  }
}

uint32_t Win32ErrorFromErrno(int err) noexcept {
  switch (err) {
    case 0:
      return win32::kErrorSuccess;
    case ENOENT:
      return win32::kErrorFileNotFound;
    case ENOTDIR:  // a component of the path is not a directory
      return win32::kErrorPathNotFound;
    case EMFILE:
    case ENFILE:
      return win32::kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:  // CreateFile on a directory is refused as access denied
      return win32::kErrorAccessDenied;
    case EBADF:
      return win32::kErrorInvalidHandle;
    case ENOMEM:
      return win32::kErrorNotEnoughMemory;
    case EXDEV:
      return win32::kErrorNotSameDevice;
    case EROFS:
      return win32::kErrorWriteProtect;
    case ETXTBSY:
      return win32::kErrorSharingViolation;
    case EAGAIN:  // a lock that a non-blocking attempt could not take
      return win32::kErrorLockViolation;
    case ENOSYS:
    case ENOTSUP:
      return win32::kErrorNotSupported;
    case EEXIST:
      return win32::kErrorFileExists;
    case EINVAL:
      return win32::kErrorInvalidParameter;
    case EPIPE:
      return win32::kErrorBrokenPipe;
    case ENOSPC:
      return win32::kErrorDiskFull;
    case ENOTEMPTY:
      return win32::kErrorDirNotEmpty;
    case EBUSY:
      return win32::kErrorBusy;
    case ENAMETOOLONG:
      return win32::kErrorFilenameExcedRange;
    case EFBIG:
      return win32::kErrorFileTooLarge;
    case EOVERFLOW:
      return win32::kErrorArithmeticOverflow;
    case EINTR:
      return win32::kErrorOperationAborted;
    case EFAULT:
      return win32::kErrorNoaccess;
    case EIO:
      return win32::kErrorIoDevice;
    case ECANCELED:
      return win32::kErrorCancelled;
    case EDQUOT:
      return win32::kErrorDiskQuotaExceeded;
    case ETIMEDOUT:
      return win32::kErrorTimeout;
    default:
      return win32::kErrorGenFailure;
  }
}

}  // namespace quorvant
