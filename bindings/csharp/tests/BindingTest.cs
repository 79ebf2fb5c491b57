// Checks the C# binding against libZAVN_Main on its virtual receiver: the record layouts against
// the C compiler's, callbacks under collection pressure, a sample stream with every sample once,
// every command wrapper, a firmware update and the shutdown. (The library's following of receivers
// plugged and pulled while open: tests/integration/hotplug_test.cpp.)
// Usage: mono BindingTest.exe LAYOUT_FILE [--no-update]
// (LAYOUT_FILE: lines "Type Field offset" and "Type . size", printed by a C program.)
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;
using Zavn;
using Zavn.Native;

static unsafe class BindingTest
{
    static int passed, failed;
    const int Transmitters = 2, RateHz = 100;

    static void Check(bool ok, string what, string detail = "")
    {
        if (ok) { ++passed; return; }
        ++failed;
        Console.WriteLine("FAILED: " + what + (detail.Length > 0 ? " (" + detail + ")" : ""));
    }

    static bool WaitFor(Func<bool> condition, int milliseconds)
    {
        var until = DateTime.UtcNow.AddMilliseconds(milliseconds);
        while (!condition())
        {
            if (DateTime.UtcNow > until) return false;
            Thread.Sleep(10);
        }
        return true;
    }

    static string Hex(IEnumerable<byte> bytes) { return string.Join(" ", bytes.Select(b => b.ToString("X2"))); }

    static int Main(string[] args)
    {
        bool update = !args.Contains("--no-update");
        Run("layout", () => Layout(args[0]));
        ZavnNative.ZAVNVirtualSelect(1);
        ZavnNative.ZAVNVirtualClear();
        int first = ZavnNative.ZAVNVirtualPlugReceiver(Transmitters, RateHz);
        Check(first > 0, "the virtual receiver plugs in");
        Run("raw callback under collection pressure", RawCallbackUnderCollection);
        using (var receiver = new Receiver())
        {
            Run("players and stream", () => Stream(receiver));
            // The update first: its checksum counts every HEX line written since the reset.
            if (update) Run("firmware update", () => Update(receiver));
            Run("commands", () => Commands(receiver, first + 1));
            Check(Throws<InvalidOperationException>(() => new Receiver()), "a second Receiver is refused");
        }
        Check(ZavnNative.ZAVNVirtualOpenHandles() == 0, "Dispose leaves no handle open");
        ZavnNative.ZAVNVirtualClear();
        var why = new StringBuilder(256);
        Check(ZavnNative.ZAVNVirtualPlugReplay("no-such.pcapng", ZavnNative.ReplayCapturedTiming, 0, why, why.Capacity) == 0 &&
              why.ToString().StartsWith("no-such.pcapng: cannot be opened"), "a replay names the file it cannot play", why.ToString());
        Console.WriteLine("{0} passed, {1} failed", passed, failed);
        return failed == 0 ? 0 : 1;
    }

    static void Run(string group, Action body)
    {
        var started = DateTime.UtcNow;
        try { body(); }
        catch (Exception e) { Check(false, group, e.ToString()); }
        Console.WriteLine("{0}: {1:F1} s", group, (DateTime.UtcNow - started).TotalSeconds);
    }

    static bool Throws<T>(Action action) where T : Exception
    {
        try { action(); }
        catch (T) { return true; }
        return false;
    }

    // Every field of both records at the C offset, no field more or less, and the sizes.
    static void Layout(string file)
    {
        var types = new Dictionary<string, Type> {
            { "PlayerStatus", typeof(PlayerStatus) },
            { "ZAVNVirtualTransmitterState", typeof(VirtualTransmitterState) } };
        var expected = File.ReadAllLines(file).Select(l => l.Split(' ')).ToList();
        foreach (var type in types)
        {
            var c = expected.Where(e => e[0] == type.Key).ToList();
            int size = int.Parse(c.Single(e => e[1] == ".")[2]);
            Check(Marshal.SizeOf(type.Value) == size && sizeof(PlayerStatus) == 87032,
                  type.Key + " size", Marshal.SizeOf(type.Value) + " against " + size);
            var fields = c.Where(e => e[1] != ".").ToDictionary(e => Capitalised(e[1]), e => int.Parse(e[2]));
            var ours = type.Value.GetFields().Where(f => !f.IsStatic && !f.IsLiteral).Select(f => f.Name).ToList();
            Check(fields.Count > 10 && ours.OrderBy(n => n).SequenceEqual(fields.Keys.OrderBy(n => n)),
                  type.Key + " has the C fields", string.Join(",", ours.Except(fields.Keys).Concat(fields.Keys.Except(ours))));
            foreach (var field in fields.Where(f => ours.Contains(f.Key)))
            {
                int offset = (int)Marshal.OffsetOf(type.Value, field.Key);
                Check(offset == field.Value, type.Key + "." + field.Key + " offset", offset + " against " + field.Value);
            }
        }
    }

    static string Capitalised(string name) { return char.ToUpperInvariant(name[0]) + name.Substring(1); }

    // The binding keeps the registered delegate: no test reference holds it while the collector
    // runs in a loop and records keep arriving.
    static void RawCallbackUnderCollection()
    {
        int calls = 0, nullRecords = 0;
        ZavnNative.ZAVNInit();
        Register(() => Interlocked.Increment(ref calls), () => Interlocked.Increment(ref nullRecords));
        ZavnNative.ZAVNReset();
        ZavnNative.ZAVNConnectRx();
        ZavnNative.ZAVNRoutineFunc();
        Check(WaitFor(() => calls > 0, 3000), "records arrive");
        int collections = 0, before = calls;
        for (var until = DateTime.UtcNow.AddSeconds(1); DateTime.UtcNow < until; ++collections)
        {
            GC.Collect();
            GC.WaitForPendingFinalizers();
            Thread.Sleep(1);
        }
        int during = calls - before;
        ZavnNative.ZAVNInitGetRawDataCallBack(null);
        for (int p = 1; p <= 4; ++p) ZavnNative.ZAVNDisconnectRx(p);
        ZavnNative.ZAVNTerminate(0);
        Check(during > 100 && nullRecords == 0, "records arrive while the collector runs",
              during + " calls over " + collections + " collections");
    }

    // In a method of its own, so that nothing on the test's stack refers to the delegate.
    static void Register(Action counted, Action nullRecord)
    {
        ZavnNative.ZAVNInitGetRawDataCallBack((kind, status) =>
        {
            if (kind == 1 && status != null) counted();
            else nullRecord();
        });
    }

    // Players, product strings and rates; then a stream taken by snapshots while the collector
    // runs: per player, the snapshots' samples in order are the records the event reported.
    static void Stream(Receiver receiver)
    {
        var links = receiver.GetPlayers();
        Check(links.Select(p => p.Rx).SequenceEqual(new[] { LinkState.Ok, LinkState.Ok, LinkState.NoDevice, LinkState.NoDevice }),
              "players 1 and 2 are connected, 3 and 4 not", string.Join(",", links.Select(p => p.Rx)));
        Check(receiver.Following && receiver.Rx(2) == LinkState.Ok && receiver.Rx(3) == LinkState.NoDevice,
              "the Receiver follows arrivals; each player's link");
        Check(receiver.ProductString(2) == "NOLTADongle" && receiver.ProductString(3) == null,
              "product strings", receiver.ProductString(2));

        var events = new List<int[]>[] { new List<int[]>(), new List<int[]>() };
        int foreign = 0;
        receiver.MotionRecorded += (sender, record) =>
        {
            if (record.Player < 1 || record.Player > Transmitters) { Interlocked.Increment(ref foreign); return; }
            var list = events[record.Player - 1];
            lock (list) list.Add(Enumerable.Range(0, 6).Select(record.Motion).ToArray());
        };
        var taken = new List<int[]>[] { new List<int[]>(), new List<int[]>() };
        var eventsAtSnapshot = new int[Transmitters];
        bool stop = false;
        var collector = new Thread(() => { while (!Volatile.Read(ref stop)) { GC.Collect(); Thread.Sleep(1); } });
        collector.Start();
        using (var snapshot = new StatusSnapshot())
        {
            for (var until = DateTime.UtcNow.AddSeconds(1.5); DateTime.UtcNow < until; Thread.Sleep(50))
            {
                for (int p = 1; p <= Transmitters; ++p)
                {
                    receiver.TakeSnapshot(p, snapshot);
                    for (int k = 0; k < snapshot.MotionCount; ++k)
                    {
                        var sample = new int[6];
                        for (int c = 0; c < 6; ++c) sample[c] = snapshot.MotionHistory(c)[k];
                        taken[p - 1].Add(sample);
                    }
                    lock (events[p - 1]) eventsAtSnapshot[p - 1] = events[p - 1].Count;
                }
            }
            Volatile.Write(ref stop, true);
            collector.Join();
            Check(Throws<ArgumentOutOfRangeException>(() => snapshot.MotionHistory(6)), "channel 6 is refused");
        }
        Check(foreign == 0 && receiver.HandlerError == null, "every record is attributed to a player");
        for (int p = 1; p <= Transmitters; ++p)
        {
            List<int[]> seen;
            lock (events[p - 1]) seen = events[p - 1].ToList();
            var got = taken[p - 1];
            // An event comes before its sample is handed over: the records of the read being
            // decoded at the last snapshot are still to come.
            int lag = eventsAtSnapshot[p - 1] - got.Count;
            bool prefix = got.Count <= seen.Count && got.Select((s, k) => s.SequenceEqual(seen[k])).All(x => x);
            Check(got.Count > RateHz / 2 && lag >= 0 && lag <= 5 && prefix,
                  "player " + p + ": each sample once, in order, as the event reported it",
                  got.Count + " snapshot samples, " + eventsAtSnapshot[p - 1] + " events by then");
            MotionRecord latest;
            Check(receiver.TryGetLatest(p, out latest) && latest.Player == p && latest.RecordCount > 0,
                  "player " + p + ": latest values without a snapshot");
            int records, secondary;
            receiver.GetRates(p, out records, out secondary);
            Check(records > 0 && records < RateHz * 2, "player " + p + " rate", records.ToString());
        }
    }

    static byte[] Bytes(byte* bytes, int count) { return Enumerable.Range(0, count).Select(k => bytes[k]).ToArray(); }

    // The transmitter's record read through the binding.
    static VirtualTransmitterState Transmitter(int id)
    {
        VirtualTransmitterState state;
        Check(ZavnNative.ZAVNVirtualGetTransmitter(id, &state) == 1, "the transmitter's state");
        return state;
    }

    // Each command through the binding, checked by what the virtual transmitter kept of it (the
    // reports' bytes are the C++ command test's); its answers in the snapshot.
    static void Commands(Receiver r, int id)
    {
        const int p = 2;
        var serial = "CSHARPTEST000002".Select(c => (byte)c).ToArray();
        var version = "V01.02.03-CS".Select(c => (byte)c).ToArray();
        var digits = Enumerable.Range(0, 25).Select(k => (byte)(k % 10)).ToArray();
        var motor = new byte[] { 1, 2, 3, 4, 5, 6, 7, 8 };
        var stick = Enumerable.Range(0x30, 15).ToArray();
        byte[] scratch = new byte[64];
        byte[] row = System.Text.Encoding.ASCII.GetBytes("030102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
        byte[] line = new byte[64];
        System.Text.Encoding.ASCII.GetBytes(":0400100001020304E2").CopyTo(line, 0);
        r.ReadFirmwareBootNumber(p, 3);  // the checksum report carries the sum written so far
        uint sumBefore = ZavnNative.ZAVNGetVUKAppCheckSum();
        r.SendCommandToTx(p, 2, 0x17);  // command 2 is the keyboard switch
        var state = Transmitter(id);
        Check(state.Modes[1] == 0x17, "the command to the transmitter");
        var modes = new[] { Mode.Browser, Mode.Keyboard, Mode.MotionKey, Mode.Rawdata, Mode.GameMode };
        for (int k = 0; k < modes.Length; ++k) r.SwitchMode(p, modes[k], 0x11 + k);
        int modeResult = ZavnNative.ZAVNSwitchGSensitivity(p, 0x116);
        r.WriteSerialNumber(p, serial);  // these two come back as answers below
        r.ReadWriteVersion(p, 1, version);
        r.SetMotor(p, motor);
        Check(Throws<ArgumentException>(() => r.SetMotor(p, new byte[7])), "a short array is refused");
        r.SelectPlayerNumber(p, 3);
        r.SwitchAntenna(p, 2);
        r.SendKeyboardMouse(p, Enumerable.Range(0x100, 12).ToArray());
        r.SendJoystick(p, stick);
        r.SendScreen(p, 1920, 1080, 0x1234, 0x10567);
        r.SendAppInfo(p, 0x21, 0x122);
        state = Transmitter(id);
        Check(Bytes(state.Modes, 6).SequenceEqual(new byte[] { 0x11, 0x12, 0x13, 0x14, 0x15, 0x16 }) && modeResult == 1,
              "the mode switches", Hex(Bytes(state.Modes, 6)));
        // The short array, had it gone out, would have changed the motor bytes.
        Check(Bytes(state.Motor, 8).SequenceEqual(motor) && state.PlayerNumber == 3 && state.Antenna == 2,
              "motor, player number and antenna");
        Check(Bytes(state.KeyboardMouse, 12).SequenceEqual(Enumerable.Range(0, 12).Select(k => (byte)k)) &&
              Bytes(state.Joystick, 15).SequenceEqual(stick.Select(v => (byte)v)), "keyboard, mouse and joystick");
        Check(state.ScreenWidth == 1920 && state.ScreenHeight == 1080 && state.MouseX == 0x1234 && state.MouseY == 0x0567 &&
              state.AppInfo[0] == 0x21 && state.AppInfo[1] == 0x22, "screen and application");

        Check(r.ReadFirmwareBootNumber(p, 0) == 1, "the boot command returns 1");
        fixed (byte* s = scratch, t = row) ZavnNative.ZAVNWriteHarlonHex(p, s, t);
        Check(scratch.SequenceEqual(row), "the table row's scratch holds the row");
        fixed (byte* s = scratch, t = line) ZavnNative.ZAVNWriteVUKHex(p, s, t);
        r.ReadFirmwareBootNumber(p, 3);
        uint sum = ZavnNative.ZAVNGetVUKAppCheckSum();
        Check(sum == sumBefore + 10, "the HEX line is summed", sum.ToString());
        Check(Transmitter(id).ReportsReceived >= 19, "the record's last field");

        using (var snapshot = new StatusSnapshot())
        {
            // One question at a time, asked again until answered: the decoder takes one identity
            // answer per read, and an answer can be lost in the first second of a link.
            Func<Action, Func<bool>, bool> answered = (ask, arrived) =>
            {
                for (int tries = 0; tries < 10; ++tries)
                {
                    ask();
                    if (WaitFor(() => { r.TakeSnapshot(p, snapshot); return arrived(); }, 300)) return true;
                }
                return false;
            };
            Check(answered(() => r.AskSerialNumber(p, 3), () => snapshot.SerialBlock().SequenceEqual(serial)) &&
                  answered(() => r.ReadWriteVersion(p, 0, version), () => snapshot.VersionBlock().SequenceEqual(version)) &&
                  answered(() => r.WriteAccountData(p, 2, 0, digits),
                           () => snapshot.AccountPage(2).SequenceEqual(digits.Select(d => (byte)(d + 0x30))) &&
                                 snapshot.AccountStatus == 1),
                  "the answers arrive in the snapshot");
        }
        byte[] text = new byte[33];
        fixed (byte* t = text)
            Check(new string((sbyte*)ZavnNative.ZAVNITOA(-1, t, 16)) == "ffffffff", "ZAVNITOA");
        Check(!Throws<EntryPointNotFoundException>(() => r.SetJoystickLoop(true)), "the joystick loop switch is bound");
    }

    static void Update(Receiver receiver)
    {
        var progress = new List<int>();
        bool done = receiver.UpdateFirmware(1, progress.Add, TimeSpan.FromSeconds(60));
        // Each value once, as it changes; the steps themselves: tests/integration/update_machine_test.cpp.
        Check(done && progress.Last() == 100 && progress.Zip(progress.Skip(1), (a, b) => a < b).All(x => x),
              "the update's progress rises to 100", string.Join(",", progress));
    }
}
