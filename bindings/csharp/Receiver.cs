// The idiomatic layer over ZavnNative: a Receiver that connects, snapshots, reports motion records
// as events, sends the commands and runs a firmware update.
//
// Histories are ReadOnlySpan<int> where the target has spans (.NET Core / .NET 5+, .NET Standard
// 2.1, Unity 2021.2+, or ZAVN_SPAN defined, as for Mono's mcs) and int[] copies elsewhere (.NET
// Framework, older Unity, or ZAVN_NO_SPAN defined). Indexing and Length read the same in both.
#if !ZAVN_NO_SPAN && (NETCOREAPP || NETSTANDARD2_1_OR_GREATER || NET5_0_OR_GREATER || UNITY_2021_2_OR_NEWER || ZAVN_SPAN)
#define ZAVN_SPANS
#endif
using System;
using System.Runtime.InteropServices;
using System.Threading;
using Zavn.Native;

namespace Zavn
{
    /// <summary>The mode switches, reports 01 to 06.</summary>
    public enum Mode { Browser = 1, Keyboard, MotionKey, Rawdata, GameMode, GSensitivity }

    /// <summary>One player's slot and its link states.</summary>
    public struct PlayerInfo
    {
        public int Number;
        public LinkState Rx; // the link: Ok while connected, NoDevice once lost
        public LinkState Tx; // the latest read: Timeout after 500 ms without a report
        public bool Connected { get { return Rx == LinkState.Ok; } }
    }

    /// <summary>The latest values of a player's motion record, copied on the poll thread (about
    /// 100 bytes, not the 87 KB record).</summary>
    public unsafe struct MotionRecord
    {
        fixed int motion[PlayerStatus.MotionChannels];
        fixed int extension[PlayerStatus.ExtensionChannels];
        fixed byte buttonBytes[12];

        /// <summary>The player, 1..4.</summary>
        public int Player;
        /// <summary>Counted records, 0..10000, then from 0 again.</summary>
        public int RecordCount;
        /// <summary>Bit k: button k (0..22) is pressed.</summary>
        public uint Buttons;

        internal MotionRecord(int player, PlayerStatus* status)
        {
            Player = player;
            RecordCount = status->RecordCount > 10000 ? 0 : status->RecordCount;
            Buttons = 0;
            for (int k = 0; k < PlayerStatus.ButtonCount; ++k)
                if (status->Buttons[k] != 0) Buttons |= 1u << k;
            fixed (int* m = motion, e = extension)
            fixed (byte* b = buttonBytes)
            {
                for (int k = 0; k < PlayerStatus.MotionChannels; ++k) m[k] = status->Motion[k];
                for (int k = 0; k < PlayerStatus.ExtensionChannels; ++k) e[k] = status->Extension[k];
                for (int k = 0; k < 12; ++k) b[k] = status->ButtonBytes[k];
            }
        }

        /// <summary>Motion channel 0..5, an unsigned 16-bit value.</summary>
        public int Motion(int channel)
        {
            Check(channel, PlayerStatus.MotionChannels);
            fixed (int* m = motion) return m[channel];
        }

        /// <summary>Extension channel 0..2.</summary>
        public int Extension(int channel)
        {
            Check(channel, PlayerStatus.ExtensionChannels);
            fixed (int* e = extension) return e[channel];
        }

        public bool Button(int index)
        {
            Check(index, PlayerStatus.ButtonCount);
            return (Buttons >> index & 1) != 0;
        }

        public byte ButtonByte(int index)
        {
            Check(index, 12);
            fixed (byte* b = buttonBytes) return b[index];
        }

        internal static void Check(int index, int count)
        {
            if (index < 0 || index >= count) throw new ArgumentOutOfRangeException("index");
        }
    }

    /// <summary>The automatic gyro calibration (ZAVNSetMotionCalibration).</summary>
    public enum MotionCalibration
    {
        Off = ZavnNative.CalibrationOff,         // no correction; the bias measured is forgotten
        Auto = ZavnNative.CalibrationAuto,       // measure while still and correct (the default)
        Restart = ZavnNative.CalibrationRestart, // measure anew, then as Auto
    }

    /// <summary>Called on the library's poll thread for every motion record.</summary>
    public delegate void MotionRecordHandler(Receiver receiver, MotionRecord record);

    /// <summary>
    /// A player's whole record as the library hands it over, in unmanaged memory that every
    /// TakeSnapshot into it reuses: nothing is allocated or copied again on the managed side.
    /// Histories returned as spans are views of that memory, valid until the next TakeSnapshot
    /// into this snapshot or its Dispose.
    /// </summary>
    public sealed unsafe class StatusSnapshot : IDisposable
    {
        PlayerStatus* status;

        public StatusSnapshot()
        {
            status = (PlayerStatus*)Receiver.AllocateRecord();
        }

        ~StatusSnapshot() { Free(); }

        public void Dispose()
        {
            Free();
            GC.SuppressFinalize(this);
        }

        void Free()
        {
            if (status != null) Marshal.FreeHGlobal((IntPtr)status);
            status = null;
        }

        /// <summary>The record itself, for fields this class does not wrap.</summary>
        public PlayerStatus* Status
        {
            get
            {
                if (status == null) throw new ObjectDisposedException("StatusSnapshot");
                return status;
            }
        }

        public int Player { get; internal set; }
        /// <summary>Samples in the motion and extension histories since the previous snapshot.</summary>
        public int MotionCount { get { return Status->MotionCount; } }
        /// <summary>The same for the secondary history (player 1 only).</summary>
        public int SecondaryCount { get { return Status->SecondaryCount; } }
        public int RecordCount { get { return Status->RecordCount; } }
        public int AccountStatus { get { return Status->AccountStatus; } }

        public int Motion(int channel)
        {
            MotionRecord.Check(channel, PlayerStatus.MotionChannels);
            return Status->Motion[channel];
        }

        public int Extension(int channel)
        {
            MotionRecord.Check(channel, PlayerStatus.ExtensionChannels);
            return Status->Extension[channel];
        }

        public bool Button(int index)
        {
            MotionRecord.Check(index, PlayerStatus.ButtonCount);
            return Status->Buttons[index] != 0;
        }

        public byte[] SerialBlock() { return Bytes(Status->SerialBlock, 16); }
        public byte[] VersionBlock() { return Bytes(Status->VersionBlock, 12); }
        public byte[] BootBlock() { return Bytes(Status->BootBlock, 12); }

        public byte[] AccountPage(int page)
        {
            MotionRecord.Check(page, PlayerStatus.AccountPageCount);
            return Bytes(Status->AccountPages + page * PlayerStatus.AccountPageBytes,
                         PlayerStatus.AccountPageBytes);
        }

        static byte[] Bytes(byte* from, int count)
        {
            var bytes = new byte[count];
            Marshal.Copy((IntPtr)from, bytes, 0, count);
            return bytes;
        }

        int* Ring(int* rings, int channel, int channels)
        {
            MotionRecord.Check(channel, channels);
            return rings + channel * PlayerStatus.HistoryLength;
        }

        static int Clamp(int count)
        {
            return count < 0 ? 0 : count > PlayerStatus.HistoryLength ? PlayerStatus.HistoryLength : count;
        }

#if ZAVN_SPANS
        /// <summary>Channel 0..5's samples since the previous snapshot, oldest first.</summary>
        public ReadOnlySpan<int> MotionHistory(int channel)
        {
            return new ReadOnlySpan<int>(Ring(Status->MotionHistory, channel, 6), Clamp(MotionCount));
        }

        /// <summary>Extension channel 0..2's values at the motion samples' positions.</summary>
        public ReadOnlySpan<int> ExtensionHistory(int channel)
        {
            return new ReadOnlySpan<int>(Ring(Status->ExtensionHistory, channel, 3), Clamp(MotionCount));
        }

        public ReadOnlySpan<int> SecondaryHistory(int channel)
        {
            return new ReadOnlySpan<int>(Ring(Status->SecondaryHistory, channel, 6), Clamp(SecondaryCount));
        }
#else
        /// <summary>Channel 0..5's samples since the previous snapshot, oldest first.</summary>
        public int[] MotionHistory(int channel)
        {
            return Ints(Ring(Status->MotionHistory, channel, 6), Clamp(MotionCount));
        }

        /// <summary>Extension channel 0..2's values at the motion samples' positions.</summary>
        public int[] ExtensionHistory(int channel)
        {
            return Ints(Ring(Status->ExtensionHistory, channel, 3), Clamp(MotionCount));
        }

        public int[] SecondaryHistory(int channel)
        {
            return Ints(Ring(Status->SecondaryHistory, channel, 6), Clamp(SecondaryCount));
        }

        static int[] Ints(int* from, int count)
        {
            var values = new int[count];
            Marshal.Copy((IntPtr)from, values, 0, count);
            return values;
        }
#endif
    }

    /// <summary>
    /// The receiver and its four players. One per process (the library is one per process):
    /// the constructor connects in the library's calling order (ZAVNInit, the callback
    /// registrations, ZAVNReset, ZAVNConnectRx, ZAVNRoutineFunc) and switches the hotplug on, so
    /// that the library follows receivers plugged in or pulled out later; Dispose disconnects
    /// every player and ends with ZAVNTerminate(0). Every method may be called from any thread.
    /// </summary>
    public sealed unsafe class Receiver : IDisposable
    {
        public const int Players = 4;
        const int MaxRecordCount = 10000;

        // The library's only raw-data callback: static, so its delegate lives as long as the
        // process and IL2CPP can call it; it dispatches to the open receiver.
        static readonly RawDataCallback trampoline = OnRawData;
        static readonly object opening = new object();
        static Receiver current;

        readonly object gate = new object();
        volatile bool disposed;
        volatile bool following;
        // The library's record of each player: the callback's argument, learnt on first sight.
        readonly IntPtr[] records = new IntPtr[Players];
        readonly MotionRecord[] latest = new MotionRecord[Players];
        readonly bool[] hasLatest = new bool[Players];
        // Samples that learning a record took out of a player's history, handed to its next
        // snapshot; and a spare record to take them into.
        readonly PlayerStatus*[] carried = new PlayerStatus*[Players];
        PlayerStatus* spare;

        /// <summary>
        /// Raised on the library's poll thread after every motion record, with the record's
        /// latest values. The poll thread reads every player every 10 ms: keep handlers short,
        /// never block, and hand longer work to another thread. A handler's exception is caught
        /// and kept in HandlerError, since it must not unwind into the library.
        /// </summary>
        public event MotionRecordHandler MotionRecorded;

        /// <summary>The last exception a MotionRecorded handler threw, or null.</summary>
        public Exception HandlerError { get; private set; }

        public Receiver()
        {
            lock (opening)
            {
                if (current != null) throw new InvalidOperationException("a Receiver is already open");
                spare = (PlayerStatus*)AllocateRecord();
                current = this;
            }
            try
            {
                ZavnNative.ZAVNInit();
                ZavnNative.ZAVNInitGetRawDataCallBack(trampoline);
                ZavnNative.ZAVNInitGetFingerCallBack(null);
                ZavnNative.ZAVNInitSendScrResolMSXYPosCallBack(null);
                ZavnNative.ZAVNReset();
                Connect();
                Hotplug(true);
            }
            catch (Exception) // the library not found (DllNotFoundException), or the wrong one
            {
                Marshal.FreeHGlobal((IntPtr)spare);
                lock (opening) current = null;
                throw;
            }
        }

        internal static IntPtr AllocateRecord()
        {
            int size = sizeof(PlayerStatus);
            IntPtr block = Marshal.AllocHGlobal(size);
            for (int k = 0; k < size; k += 8) Marshal.WriteInt64(block, k, 0);
            return block;
        }

        /// <summary>Opens the receiver's slots and switches polling on: again after a receiver
        /// dropped off where Following is false. Returns whether any player is connected.</summary>
        public bool Connect()
        {
            ThrowIfDisposed();
            ZavnNative.ZAVNConnectRx();
            ZavnNative.ZAVNRoutineFunc();
            for (int p = 1; p <= Players; ++p)
                if (Rx(p) == LinkState.Ok) return true;
            return false;
        }

        /// <summary>ZAVNSwitchHotplug: on, the library connects the receiver's interfaces as they
        /// arrive and gives up those removed (their link becomes NoDevice), on a thread of its
        /// own; switching on also connects what is present. The constructor switches it on.
        /// Returns Following.</summary>
        public bool Hotplug(bool on)
        {
            ThrowIfDisposed();
            following = ZavnNative.ZAVNSwitchHotplug(on ? 1 : 0) == 1;
            return following;
        }

        /// <summary>True while the library follows arrivals and removals; false when the hotplug
        /// is off or the system cannot report arrivals (then Connect() when one dropped off).</summary>
        public bool Following { get { return following; } }

        public LinkState Rx(int player) { return (LinkState)ZavnNative.ZAVNGetRxStatus(Checked(player)); }
        public LinkState Tx(int player) { return (LinkState)ZavnNative.ZAVNGetTxStatus(Checked(player)); }

        /// <summary>The four players with their link states.</summary>
        public PlayerInfo[] GetPlayers()
        {
            var players = new PlayerInfo[Players];
            for (int p = 1; p <= Players; ++p)
                players[p - 1] = new PlayerInfo { Number = p, Rx = Rx(p), Tx = Tx(p) };
            return players;
        }

        /// <summary>The HID product string of the player's interface, or null.</summary>
        public string ProductString(int player)
        {
            byte* buffer = stackalloc byte[ZavnNative.ProductStringBytes + 1];
            for (int k = 0; k <= ZavnNative.ProductStringBytes; ++k) buffer[k] = 0;
            if (ZavnNative.ZAVNGetProductString(Checked(player), (IntPtr)buffer) != 1) return null;
            int length = 0;
            while (length + 1 < ZavnNative.ProductStringBytes && (buffer[length] | buffer[length + 1]) != 0)
                length += 2;
            return new string((sbyte*)buffer, 0, length, System.Text.Encoding.Unicode);
        }

        /// <summary>Motion records per second of the player: counted ones and secondary ones.</summary>
        public void GetRates(int player, out int records, out int secondary)
        {
            uint* row = stackalloc uint[4];
            uint** rows = stackalloc uint*[Players];
            for (int p = 0; p < Players; ++p) rows[p] = null;
            rows[Checked(player) - 1] = row;
            ZavnNative.ZAVNGetRawdataFPS(0, rows);
            records = (int)row[0];
            secondary = (int)row[1];
        }

        /// <summary>The player's latest motion record, from the poll thread's last callback for
        /// it; no snapshot is taken, so the histories stay for TakeSnapshot.</summary>
        public bool TryGetLatest(int player, out MotionRecord record)
        {
            lock (gate)
            {
                record = latest[Checked(player) - 1];
                return hasLatest[player - 1];
            }
        }

        /// <summary>Copies the player's record into the snapshot and hands its history samples
        /// over: each sample comes in exactly one snapshot. Take one at least every few seconds
        /// (the library keeps the newest 1024 samples).</summary>
        public void TakeSnapshot(int player, StatusSnapshot snapshot)
        {
            if (snapshot == null) throw new ArgumentNullException("snapshot");
            PlayerStatus* into = snapshot.Status;
            lock (gate)
            {
                ThrowIfDisposed();
                // The library leaves the history part as it was until its first decode after a
                // reset: the counts are cleared so that old samples never pass for new ones.
                into->MotionCount = 0;
                into->SecondaryCount = 0;
                ZavnNative.ZAVNGetStatus(Checked(player), into);
                PlayerStatus* carry = carried[player - 1];
                if (carry != null)
                {
                    Append(carry, into, player == 1);
                    carry->MotionCount = carry->SecondaryCount = 0;
                }
            }
            snapshot.Player = player;
        }

        // Puts older's samples before newer's, in newer, keeping the newest HistoryLength.
        static void Append(PlayerStatus* older, PlayerStatus* newer, bool secondary)
        {
            int olderCount = older->MotionCount, newerCount = newer->MotionCount;
            newer->MotionCount = AppendRings(older->MotionHistory, olderCount, newer->MotionHistory,
                                             newerCount, PlayerStatus.MotionChannels);
            AppendRings(older->ReservedAHistory, olderCount, newer->ReservedAHistory, newerCount, 3);
            AppendRings(older->ExtensionHistory, olderCount, newer->ExtensionHistory, newerCount, 3);
            AppendRings(older->ReservedBHistory, olderCount, newer->ReservedBHistory, newerCount, 3);
            if (secondary)
                newer->SecondaryCount = AppendRings(older->SecondaryHistory, older->SecondaryCount,
                                                    newer->SecondaryHistory, newer->SecondaryCount,
                                                    PlayerStatus.MotionChannels);
        }

        static int AppendRings(int* older, int olderCount, int* newer, int newerCount, int channels)
        {
            const int length = PlayerStatus.HistoryLength;
            if (olderCount <= 0) return newerCount;
            if (newerCount < 0) newerCount = 0;
            int kept = Math.Min(olderCount, length - newerCount);
            for (int c = 0; c < channels; ++c)
            {
                int* to = newer + c * length;
                Buffer.MemoryCopy(to, to + kept, (length - kept) * 4L, newerCount * 4L);
                Buffer.MemoryCopy(older + c * length + olderCount - kept, to, kept * 4L, kept * 4L);
            }
            return kept + newerCount;
        }

        [MonoPInvokeCallback(typeof(RawDataCallback))]
        static void OnRawData(int kind, PlayerStatus* status)
        {
            Receiver receiver = current;
            if (receiver == null || status == null) return;
            try
            {
                receiver.Deliver(status);
            }
            catch (Exception e)
            {
                receiver.HandlerError = e;
            }
        }

        void Deliver(PlayerStatus* status)
        {
            MotionRecord[] held = null;
            MotionRecord record;
            lock (gate)
            {
                if (disposed) return;
                int player = PlayerOf(status);
                record = new MotionRecord(player, status);
                if (player == 0)
                {
                    // Raised once the record's player is known, in order.
                    if (unattributed.Count < PlayerStatus.HistoryLength) unattributed.Add(new Unattributed { Record = (IntPtr)status, Values = record });
                    return;
                }
                if (unattributed.Count > 0) held = TakeUnattributed((IntPtr)status, player);
                latest[player - 1] = record;
                hasLatest[player - 1] = true;
            }
            MotionRecordHandler handler = MotionRecorded;
            if (handler == null) return;
            if (held != null)
                foreach (MotionRecord earlier in held) handler(this, earlier);
            handler(this, record);
        }

        struct Unattributed
        {
            public IntPtr Record;
            public MotionRecord Values;
        }
        readonly System.Collections.Generic.List<Unattributed> unattributed =
            new System.Collections.Generic.List<Unattributed>();

        MotionRecord[] TakeUnattributed(IntPtr address, int player)
        {
            var held = new System.Collections.Generic.List<MotionRecord>();
            foreach (Unattributed u in unattributed)
            {
                if (u.Record != address) continue;
                MotionRecord values = u.Values;
                values.Player = player;
                held.Add(values);
            }
            unattributed.RemoveAll(u => u.Record == address);
            return held.ToArray();
        }

        // The callback names no player: its record is the library's own, one per player, found
        // once through ZAVNGetStatus. Called during the callback, that leaves the decoding
        // player's history part alone (its count reads 0, Motion stays as it was) and hands
        // every other player's samples over: those are carried to the player's next snapshot.
        // Before the first decode after a reset it touches no history part: tried again later.
        int PlayerOf(PlayerStatus* status)
        {
            IntPtr address = (IntPtr)status;
            for (int p = 0; p < Players; ++p)
                if (records[p] == address) return p + 1;
            int count = status->RecordCount > MaxRecordCount ? 0 : status->RecordCount;
            for (int p = 1; p <= Players; ++p)
            {
                if (records[p - 1] != IntPtr.Zero || ZavnNative.ZAVNGetRxStatus(p) != (int)LinkState.Ok)
                    continue;
                // Motion values are 16-bit: a copied one never equals the negative seed.
                for (int k = 0; k < PlayerStatus.MotionChannels; ++k) spare->Motion[k] = -1;
                spare->MotionCount = -1;
                spare->SecondaryCount = 0;
                ZavnNative.ZAVNGetStatus(p, spare);
                if (spare->MotionCount == -1) return 0;
                if (spare->Motion[0] != -1)
                {
                    if (spare->MotionCount > 0 || spare->SecondaryCount > 0) Carry(p, p == 1);
                    continue;
                }
                if (spare->MotionCount != 0 || spare->RecordCount != count) return 0;
                records[p - 1] = address;
                return p;
            }
            return 0;
        }

        void Carry(int player, bool secondary)
        {
            PlayerStatus* carry = carried[player - 1];
            if (carry == null)
            {
                carry = (PlayerStatus*)AllocateRecord();
                carried[player - 1] = carry;
            }
            Append(carry, spare, secondary);
            carried[player - 1] = spare;
            spare = carry;
        }

        // Motion in physical units (zavn_motion.h).

        /// <summary>The player's motion samples since the previous call, oldest first. The
        /// library keeps the newest 1024 per player: a gap in Sample says how many were lost.</summary>
        public MotionSample[] Motion(int player)
        {
            Checked(player);
            var samples = new MotionSample[ZavnNative.MotionRing];
            int count = 0;
            while (true)
            {
                int room = samples.Length - count, taken;
                fixed (MotionSample* into = samples) taken = ZavnNative.ZAVNReadMotion(player, into + count, room);
                count += taken;
                if (taken < room) break;
                Array.Resize(ref samples, samples.Length * 2); // more arrived while reading
            }
            Array.Resize(ref samples, count);
            return samples;
        }

        /// <summary>Loads a sensor profile file for the players and transmitters it names (null:
        /// the defaults). False when refused, with the file, line and key in error; the profile in
        /// use then stays.</summary>
        public bool LoadMotionProfile(string file, out string error)
        {
            var message = new System.Text.StringBuilder(512);
            bool loaded = ZavnNative.ZAVNLoadMotionProfile(file, message, message.Capacity) != 0;
            error = loaded ? null : message.ToString();
            return loaded;
        }

        public void SetMotionCalibration(int player, MotionCalibration mode)
        {
            if (ZavnNative.ZAVNSetMotionCalibration(Checked(player), (int)mode) == 0)
                throw new ArgumentOutOfRangeException("mode");
        }

        /// <summary>The bias taken out of the player's rotation rate (x, y, z in deg/s), or null
        /// before it has been measured.</summary>
        public float[] GyroBias(int player)
        {
            var bias = new float[3];
            fixed (float* into = bias)
                return ZavnNative.ZAVNGetGyroBias(Checked(player), into) != 0 ? bias : null;
        }

        // Commands. Each writes one output report to the player's receiver and waits for
        // nothing; answers arrive in the player's record (SerialBlock, VersionBlock, AccountPages).

        public void SwitchMode(int player, Mode mode, int value)
        {
            Checked(player);
            switch (mode)
            {
                case Mode.Browser: ZavnNative.ZAVNSwitchBrowser(player, value); break;
                case Mode.Keyboard: ZavnNative.ZAVNSwitchKeyboard(player, value); break;
                case Mode.MotionKey: ZavnNative.ZAVNSwitchMotionKey(player, value); break;
                case Mode.Rawdata: ZavnNative.ZAVNSwitchRawdata(player, value); break;
                case Mode.GameMode: ZavnNative.ZAVNSwitchGameMode(player, value); break;
                case Mode.GSensitivity: ZavnNative.ZAVNSwitchGSensitivity(player, value); break;
                default: throw new ArgumentOutOfRangeException("mode");
            }
        }

        /// <summary>Command 1 switches the browser mode, command 2 the keyboard mode.</summary>
        public void SendCommandToTx(int player, int command, byte value)
        {
            ZavnNative.ZAVNSendCMDToTx(Checked(player), command, &value);
        }

        /// <summary>Asks for the serial number; it arrives in SerialBlock.</summary>
        public void AskSerialNumber(int player, int subCommand)
        {
            ZavnNative.ZAVNAskSerialNumber(Checked(player), subCommand, null, 1);
        }

        /// <summary>Sends 16 bytes of serial-number data (sub-command 2).</summary>
        public void WriteSerialNumber(int player, byte[] serial)
        {
            fixed (byte* data = Sized(serial, 16, "serial"))
                ZavnNative.ZAVNAskSerialNumber(Checked(player), 2, data, 2);
        }

        /// <summary>Report 0B with the operation and 12 version bytes; the answer arrives in
        /// VersionBlock (operation 1 writes the bytes first).</summary>
        public void ReadWriteVersion(int player, int operation, byte[] version)
        {
            fixed (byte* data = Sized(version, 12, "version"))
                ZavnNative.ZAVNReadWriteVersionNum(Checked(player), operation, data);
        }

        /// <summary>Report 0A: two control bytes and 25 digits 0..9.</summary>
        public void WriteAccountData(int player, int first, int second, byte[] digits)
        {
            fixed (byte* data = Sized(digits, 25, "digits"))
                ZavnNative.ZAVNWriteAccountData(Checked(player), first, second, data);
        }

        /// <summary>The boot command of selector 0..4: 1 when written, 0 when nothing was sent,
        /// else the system's error code.</summary>
        public int ReadFirmwareBootNumber(int player, int selector)
        {
            return ZavnNative.ZAVNReadFWNumBootNum(Checked(player), selector);
        }

        /// <summary>Report 07 with 8 motor bytes (a first byte 0x45 sends the erase report).</summary>
        public void SetMotor(int player, byte[] bytes)
        {
            fixed (byte* data = Sized(bytes, 8, "bytes")) ZavnNative.ZAVNSetMotorAction(Checked(player), data);
        }

        public void SelectPlayerNumber(int player, int number)
        {
            ZavnNative.ZAVNSelectPlayerNum(Checked(player), number);
        }

        public void SwitchAntenna(int player, int antenna)
        {
            ZavnNative.ZAVNSwitchRFAntenna(Checked(player), antenna);
        }

        /// <summary>Report 09 with the low byte of each of 12 values.</summary>
        public void SendKeyboardMouse(int player, int[] values)
        {
            fixed (int* data = Sized(values, 12, "values")) ZavnNative.ZAVNSendAPIKeyboardMouse(Checked(player), data);
        }

        /// <summary>Report 0D with the low byte of each of 15 values.</summary>
        public void SendJoystick(int player, int[] values)
        {
            fixed (int* data = Sized(values, 15, "values")) ZavnNative.ZAVNSendAPINewKeyJoystick(Checked(player), data);
        }

        public void SendScreen(int player, int width, int height, int mouseX, int mouseY)
        {
            ZavnNative.ZAVNSendScrResolMSXYPos(Checked(player), width, height, mouseX, mouseY);
        }

        public void SendAppInfo(int player, int first, int second)
        {
            ZavnNative.ZAVNSendAppInfoToDongle(Checked(player), first, second);
        }

        /// <summary>The joystick-loop flag of the periodic output report.</summary>
        public void SetJoystickLoop(bool on)
        {
            ZavnNative.ZAVNTurnONJoystickAPILoop(on ? 1u : 0u);
        }

        /// <summary>Selects game entry `game` of NoltaUT.ini for the plug-in dispatch, with four
        /// per-player channel modes.</summary>
        public void SelectGame(int game, int[] modes, int parameter)
        {
            fixed (int* data = Sized(modes, 4, "modes")) ZavnNative.ZAVNSelectGameChannel(game, data, parameter);
        }

        public void ClearGame() { ZavnNative.ZAVNClearGameChannel(); }

        /// <summary>
        /// Updates the firmware of the slot's receiver, which drops off and comes back under each
        /// new firmware: followed by the hotplug, else reconnected here. progress (may be null)
        /// is called on this thread with each new value of ZAVNGetBootloaderStatus, 100 at the
        /// end. Returns true when the update reached 100 within the limit; the slot's update mode
        /// is stopped either way.
        /// </summary>
        public bool UpdateFirmware(int slot, Action<int> progress, TimeSpan limit)
        {
            ThrowIfDisposed();
            var started = DateTime.UtcNow;
            var tried = DateTime.MinValue;
            int shown = -1, value = 0;
            ZavnNative.ZAVNBootLoaderFSM(Checked(slot), ZavnNative.UpdateRun);
            try
            {
                while (value < ZavnNative.UpdateDone && DateTime.UtcNow - started < limit)
                {
                    if (!following && Rx(slot) != LinkState.Ok && DateTime.UtcNow - tried > TimeSpan.FromMilliseconds(500))
                    {
                        Connect();
                        tried = DateTime.UtcNow;
                    }
                    value = ZavnNative.ZAVNGetBootloaderStatus(slot);
                    if (value != shown && progress != null) progress(value);
                    shown = value;
                    if (value < ZavnNative.UpdateDone) Thread.Sleep(50);
                }
            }
            finally
            {
                ZavnNative.ZAVNBootLoaderFSM(slot, ZavnNative.UpdateStop);
            }
            return value >= ZavnNative.UpdateDone;
        }

        /// <summary>Disconnects every player and ends with ZAVNTerminate(0), which waits for the
        /// poll thread (unless called from a MotionRecorded handler, on that thread).</summary>
        public void Dispose()
        {
            lock (opening)
            {
                if (disposed) return;
                disposed = true;
            }
            ZavnNative.ZAVNInitGetRawDataCallBack(null);
            // The hotplug first: nothing is connected again behind the disconnects.
            ZavnNative.ZAVNSwitchHotplug(0);
            following = false;
            for (int p = 1; p <= Players; ++p) ZavnNative.ZAVNDisconnectRx(p);
            ZavnNative.ZAVNTerminate(0);
            lock (gate)
            {
                for (int p = 0; p < Players; ++p)
                {
                    if (carried[p] != null) Marshal.FreeHGlobal((IntPtr)carried[p]);
                    carried[p] = null;
                }
                Marshal.FreeHGlobal((IntPtr)spare);
                spare = null;
            }
            lock (opening) current = null;
        }

        void ThrowIfDisposed()
        {
            if (disposed) throw new ObjectDisposedException("Receiver");
        }

        static int Checked(int player)
        {
            if (player < 1 || player > Players) throw new ArgumentOutOfRangeException("player", "players are 1 to 4");
            return player;
        }

        static T[] Sized<T>(T[] values, int count, string name)
        {
            if (values == null) throw new ArgumentNullException(name);
            if (values.Length != count) throw new ArgumentException("needs " + count + " values", name);
            return values;
        }
    }
}
