// The C interface of ZAVN_Main (include/zavn/*.h) as declared there: every export, cdecl, with
// the headers' integer and pointer types (int32_t: int, uint32_t: uint, uint8_t*: byte*,
// char*: byte*, void*: IntPtr). Compiled with unsafe code allowed.
//
// The library is found as "ZAVN_Main": ZAVN_Main.dll on Windows; on Linux Mono maps the name
// through Zavn.dll.config (beside the assembly) to libZAVN_Main.so.1, and .NET probes
// libZAVN_Main.so.
using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Zavn.Native
{
    /// <summary>Link states, as ZAVNReset, ZAVNGetRxStatus and ZAVNGetTxStatus return them.</summary>
    public enum LinkState
    {
        ResetDone = 3,
        NotReset = 4,
        Ok = 5,
        NoDevice = 6,
        ReadError = 7,
        Timeout = 8,
    }

    /// <summary>
    /// The decoded state of one player (zavn_status.h): 87032 bytes, every field at the C offset.
    /// Two-dimensional C arrays are flat here: MotionHistory[channel * HistoryLength + position].
    /// </summary>
    [StructLayout(LayoutKind.Explicit, Size = 87032)]
    public unsafe struct PlayerStatus
    {
        public const int HistoryLength = 1024;
        public const int MotionChannels = 6;
        public const int ExtensionChannels = 3;
        public const int AccountPageCount = 16;
        public const int AccountPageBytes = 25;
        public const int ButtonCount = 23;
        public const int RawRecordBytes = 64;

        [FieldOffset(0)] public fixed int Motion[MotionChannels];
        [FieldOffset(24)] public fixed int MotionHistory[MotionChannels * HistoryLength];
        [FieldOffset(24600)] public int MotionCount;
        [FieldOffset(24604)] public int SecondaryCount;
        [FieldOffset(24608)] public fixed byte AccountPages[AccountPageCount * AccountPageBytes];
        [FieldOffset(25008)] public fixed int ReservedA[3];
        [FieldOffset(25020)] public fixed int ReservedAHistory[3 * HistoryLength];
        [FieldOffset(37308)] public fixed int Extension[ExtensionChannels];
        [FieldOffset(37320)] public fixed int ExtensionHistory[ExtensionChannels * HistoryLength];
        [FieldOffset(49608)] public fixed int ReservedB[3];
        [FieldOffset(49620)] public fixed int ReservedBHistory[3 * HistoryLength];
        [FieldOffset(61908)] public fixed int SecondaryMotion[MotionChannels];
        [FieldOffset(61932)] public fixed int SecondaryHistory[MotionChannels * HistoryLength];
        [FieldOffset(86508)] public fixed int ReservedC[11];
        [FieldOffset(86552)] public int RecordCount;
        [FieldOffset(86556)] public int SecondaryRecordCount;
        [FieldOffset(86560)] public fixed byte SerialBlock[16];
        [FieldOffset(86576)] public fixed byte VersionBlock[12];
        [FieldOffset(86588)] public int AccountStatus;
        [FieldOffset(86592)] public fixed int ReservedD[5];
        [FieldOffset(86612)] public fixed byte BootBlock[12];
        [FieldOffset(86624)] public fixed byte ReservedE[255];
        [FieldOffset(86879)] public fixed byte ExtensionBytes[2];
        [FieldOffset(86881)] public fixed byte ExtensionFlags[4];
        [FieldOffset(86885)] public fixed byte ReservedF[2];
        [FieldOffset(86887)] public byte Padding1;
        [FieldOffset(86888)] public fixed int ReservedG[5];
        [FieldOffset(86908)] public fixed float ReservedFloat[6];
        [FieldOffset(86932)] public fixed byte ButtonBytes[12];
        [FieldOffset(86944)] public fixed byte Buttons[ButtonCount];
        [FieldOffset(86967)] public fixed byte RawRecord[RawRecordBytes];
        [FieldOffset(87031)] public byte Padding2;
    }

    /// <summary>What a virtual transmitter keeps of the host's commands (zavn_virtual.h).</summary>
    [StructLayout(LayoutKind.Sequential)]
    public unsafe struct VirtualTransmitterState
    {
        public fixed byte Modes[6];
        public byte PlayerNumber;
        public byte Antenna;
        public fixed byte Motor[8];
        public fixed byte KeyboardMouse[12];
        public fixed byte Joystick[15];
        public fixed byte AppInfo[2];
        public ushort ScreenWidth, ScreenHeight, MouseX, MouseY;
        public fixed byte Serial[16];
        public fixed byte Version[12];
        public fixed byte AccountPages[16 * 25];
        public uint ReportsReceived;
    }

    /// <summary>
    /// One motion record in physical units (zavn_motion.h), 56 bytes: when the library read it
    /// (ZAVNTimeUs's clock), its number (+1 per record), Buttons[0..22] as bits, acceleration in
    /// g and rotation rate in deg/s along x, y, z, and the attitude quaternion w, x, y, z.
    /// </summary>
    [StructLayout(LayoutKind.Sequential)]
    public unsafe struct MotionSample
    {
        public long TimeUs;
        public uint Sample;
        public uint Buttons;
        public fixed float AccelG[3];
        public fixed float GyroDps[3];
        public fixed float Orientation[4];

        /// <summary>Acceleration along axis 0..2 (x, y, z) in g.</summary>
        public float Accel(int axis) { Check(axis, 3); fixed (float* v = AccelG) return v[axis]; }
        /// <summary>Rotation rate about axis 0..2 (x, y, z) in degrees per second.</summary>
        public float Gyro(int axis) { Check(axis, 3); fixed (float* v = GyroDps) return v[axis]; }
        /// <summary>Component 0..3 (w, x, y, z) of the attitude: controller frame to world frame.</summary>
        public float Quaternion(int k) { Check(k, 4); fixed (float* v = Orientation) return v[k]; }

        static void Check(int index, int count)
        {
            if (index < 0 || index >= count) throw new ArgumentOutOfRangeException("index");
        }
    }

    /// <summary>Called on the library's poll thread after every motion record.</summary>
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public unsafe delegate void RawDataCallback(int kind, PlayerStatus* status);

    /// <summary>Stored by the library for hosts that register them; never called.</summary>
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate void FingerCallback();

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate void ScrResolCallback();

    /// <summary>
    /// Marks a method that native code calls through a delegate. IL2CPP (Unity) and Mono's
    /// ahead-of-time compilers recognise it by name and make such methods callable from C; the
    /// method must be static.
    /// </summary>
    [AttributeUsage(AttributeTargets.Method)]
    public sealed class MonoPInvokeCallbackAttribute : Attribute
    {
        public MonoPInvokeCallbackAttribute(Type delegateType) { DelegateType = delegateType; }
        public Type DelegateType { get; private set; }
    }

    public static unsafe class ZavnNative
    {
        public const string Library = "ZAVN_Main";
        const CallingConvention Cdecl = CallingConvention.Cdecl;

        public const int ProductStringBytes = 255;
        public const int ImageLineBytes = 64;
        public const int UpdateStop = 0, UpdateRun = 1, UpdateReset = 100, UpdateDone = 100;
        public const int VirtualFaultOpen = 1, VirtualFaultAttributes = 2,
            VirtualFaultCapabilities = 4, VirtualFaultRead = 8, VirtualFaultWrite = 16,
            VirtualFaultProduct = 32;
        public const int VirtualMaxReportLength = 1024;
        public const int MotionRing = 1024;
        public const int CalibrationOff = 0, CalibrationAuto = 1, CalibrationRestart = 2;
        public const int ReplayAsRead = 0, ReplayCapturedTiming = 100, ReplayMaxSpeed = 100000;

        // zavn.h
        [DllImport(Library, CallingConvention = Cdecl)] public static extern IntPtr ZAVNInit();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNReset();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern void ZAVNConnectRx();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNRoutineFunc();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNSwitchHotplug(int on);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNStartCapture(string file);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNStopCapture();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern void ZAVNDisconnectRx(int playerIndex);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNTerminate(int run);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNGetProductString(int playerIndex, IntPtr buffer);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNGetRxStatus(int playerIndex);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNGetTxStatus(int playerIndex);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern void ZAVNGetStatus(int playerIndex, PlayerStatus* output);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNGetRawdataFPS(int unused, uint** rates);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNTurnONJoystickAPILoop(uint on);

        // The registrations go through the wrappers below, which keep the delegate reachable.
        [DllImport(Library, CallingConvention = Cdecl, EntryPoint = "ZAVNInitGetRawDataCallBack")]
        static extern void InitGetRawDataCallBack(RawDataCallback callback);
        [DllImport(Library, CallingConvention = Cdecl, EntryPoint = "ZAVNInitGetFingerCallBack")]
        static extern void InitGetFingerCallBack(FingerCallback callback);
        [DllImport(Library, CallingConvention = Cdecl, EntryPoint = "ZAVNInitSendScrResolMSXYPosCallBack")]
        static extern void InitSendScrResolMSXYPosCallBack(ScrResolCallback callback);

        // zavn_commands.h
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNSwitchBrowser(int playerIndex, int value);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNSwitchKeyboard(int playerIndex, int value);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNSwitchMotionKey(int playerIndex, int value);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNSwitchRawdata(int playerIndex, int value);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNSwitchGameMode(int playerIndex, int value);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNSwitchGSensitivity(int playerIndex, int value);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNSendCMDToTx(int playerIndex, int command, byte* value);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern void ZAVNAskSerialNumber(int playerIndex, int subCommand, byte* data, int form);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern void ZAVNReadWriteVersionNum(int playerIndex, int operation, byte* version);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern void ZAVNWriteAccountData(int playerIndex, int first, int second, byte* digits);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNReadFWNumBootNum(int playerIndex, int selector);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern byte* ZAVNITOA(int value, byte* buffer, int radix);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNSetMotorAction(int playerIndex, byte* bytes);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern void ZAVNSelectPlayerNum(int playerIndex, int number);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern void ZAVNSwitchRFAntenna(int playerIndex, int antenna);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern void ZAVNSendAPIKeyboardMouse(int playerIndex, int* values);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern void ZAVNSendAPINewKeyJoystick(int playerIndex, int* values);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNSendScrResolMSXYPos(int playerIndex, int width, int height, int mouseX, int mouseY);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNSendAppInfoToDongle(int playerIndex, int first, int second);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern void ZAVNSelectGameChannel(int game, int* modes, int parameter);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern void ZAVNClearGameChannel();

        // zavn_motion.h
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNReadMotion(int playerIndex, MotionSample* samples, int capacity);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern long ZAVNTimeUs();
        /// <summary>Loads a sensor profile file (null: the defaults); 0 with the file, line and
        /// key in error (a StringBuilder of errorCapacity) when it is refused.</summary>
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNLoadMotionProfile(string file, StringBuilder error, int errorCapacity);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNSetMotionCalibration(int playerIndex, int mode);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNGetGyroBias(int playerIndex, float* biasDps);

        // zavn_firmware.h
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNBootLoaderFSM(int slot, int mode);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNGetBootloaderStatus(int slot);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNFirmwareImagesArePlaceholders();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNCheckHarlonCHKAK(int slot);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNCheckVUKCHKAK(int slot);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern void ZAVNWriteVUKHex(int playerIndex, byte* scratch, byte* line);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern uint ZAVNGetVUKAppCheckSum();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern void ZAVNWriteHarlonHex(int playerIndex, byte* scratch, byte* row);

        // zavn_virtual.h
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNVirtualSelect(int on);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern void ZAVNVirtualClear();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNVirtualPlug(int vendorId, int productId, int inputReportLength, int outputReportLength, byte* product);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNVirtualPlugReceiver(int transmitters, int rateHz);
        /// <summary>Plays a capture back (speedPercent 100: its captured timing; 0: as fast as
        /// read); 0 with the reason in error (a StringBuilder of errorCapacity) when it cannot.</summary>
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNVirtualPlugReplay(string file, int speedPercent, int loop, StringBuilder error, int errorCapacity);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNVirtualUnplug(int id);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNVirtualReplug(int id);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNVirtualQueueInput(int id, byte* report, int length);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNVirtualTakeOutput(int id, byte* buffer, int capacity);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNVirtualSetProduct(int id, byte* product);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNVirtualSetFaults(int id, int faults);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNVirtualGetTransmitter(int id, VirtualTransmitterState* output);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNVirtualOpenHandles();
        /// <summary>The transmitter reads accelG and gyroDps (x, y, z) from its next record on;
        /// null: its own path again.</summary>
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNVirtualSetMotion(int id, float* accelG, float* gyroDps);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNVirtualSetGyroBias(int id, float* biasDps);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ZAVNVirtualSetSensorErrors(int id, float* scale, int* zeroCounts);

        // The library keeps only the function pointer: the delegate behind it must stay reachable,
        // or the collector frees its thunk and the poll thread calls into freed memory. A
        // replaced delegate may still be running on the poll thread, so none is ever let go;
        // register one delegate and change what it does rather than registering many.
        static readonly object registrations = new object();
        static RawDataCallback rawData;
        static FingerCallback finger;
        static ScrResolCallback scrResol;
        static readonly System.Collections.Generic.List<Delegate> replaced =
            new System.Collections.Generic.List<Delegate>();

        static void Keep(Delegate previous, Delegate next)
        {
            if (previous != null && previous != next && !replaced.Contains(previous))
                replaced.Add(previous);
        }

        /// <summary>Registers the raw-data callback (null switches it off); the delegate is
        /// kept reachable by this class.</summary>
        public static void ZAVNInitGetRawDataCallBack(RawDataCallback callback)
        {
            lock (registrations)
            {
                Keep(rawData, callback);
                rawData = callback;
                InitGetRawDataCallBack(callback);
            }
        }

        public static void ZAVNInitGetFingerCallBack(FingerCallback callback)
        {
            lock (registrations)
            {
                Keep(finger, callback);
                finger = callback;
                InitGetFingerCallBack(callback);
            }
        }

        public static void ZAVNInitSendScrResolMSXYPosCallBack(ScrResolCallback callback)
        {
            lock (registrations)
            {
                Keep(scrResol, callback);
                scrResol = callback;
                InitSendScrResolMSXYPosCallBack(callback);
            }
        }
    }
}
