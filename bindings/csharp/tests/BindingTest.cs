// Checks what only the C# binding can get wrong, against libZAVN_Main on its virtual receiver:
// the record layouts against the C compiler's, delegates under collection pressure, the events'
// and snapshots' attribution of samples, the wrappers' arguments, arrays and strings, the update
// loop and the shutdown. What the library does with them is pinned by tests/integration.
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
        for (var until = DateTime.UtcNow.AddMilliseconds(milliseconds); !condition(); Thread.Sleep(10))
            if (DateTime.UtcNow > until) return false;
        return true;
    }

    static int Main(string[] args)
    {
        bool update = !args.Contains("--no-update");
        Run("layout", () => Layout(args[0]));
        ZavnNative.ZAVNVirtualSelect(1);
        ZavnNative.ZAVNVirtualClear();
        int first = ZavnNative.ZAVNVirtualPlugReceiver(Transmitters, RateHz);
        Check(first > 0, "the virtual receiver plugs in");
        using (var receiver = new Receiver())
        {
            Run("players and stream", () => Stream(receiver));
            Run("motion samples", () => Motion(receiver, first));
            if (update) Run("firmware update", () => Update(receiver));
            Run("commands", () => Commands(receiver, first + 1));
            Run("raw callback under collection pressure", RawCallbackUnderCollection);
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
            { "ZAVNVirtualTransmitterState", typeof(VirtualTransmitterState) },
            { "ZAVNMotionSample", typeof(MotionSample) } };
        var expected = File.ReadAllLines(file).Select(l => l.Split(' ')).ToList();
        foreach (var type in types)
        {
            var c = expected.Where(e => e[0] == type.Key).ToList();
            int size = int.Parse(c.Single(e => e[1] == ".")[2]);
            Check(Marshal.SizeOf(type.Value) == size && sizeof(PlayerStatus) == 87032,
                  type.Key + " size", Marshal.SizeOf(type.Value) + " against " + size);
            var fields = c.Where(e => e[1] != ".").ToDictionary(e => Capitalised(e[1]), e => int.Parse(e[2]));
            var ours = type.Value.GetFields().Where(f => !f.IsStatic && !f.IsLiteral).Select(f => f.Name).ToList();
            Check(fields.Count >= 6 && ours.OrderBy(n => n).SequenceEqual(fields.Keys.OrderBy(n => n)),
                  type.Key + " has the C fields", string.Join(",", ours.Except(fields.Keys).Concat(fields.Keys.Except(ours))));
            foreach (var field in fields.Where(f => ours.Contains(f.Key)))
            {
                int offset = (int)Marshal.OffsetOf(type.Value, field.Key);
                Check(offset == field.Value, type.Key + "." + field.Key + " offset", offset + " against " + field.Value);
            }
        }
    }

    static string Capitalised(string name) { return char.ToUpperInvariant(name[0]) + name.Substring(1); }

    // ZavnNative keeps a registered delegate (here in the Receiver's place, which Dispose clears):
    // no test reference holds it while the collector runs in a loop and records keep arriving.
    static void RawCallbackUnderCollection()
    {
        int calls = 0, nullRecords = 0;
        Register(() => Interlocked.Increment(ref calls), () => Interlocked.Increment(ref nullRecords));
        Check(WaitFor(() => calls > 0, 3000), "records arrive");
        int before = calls;
        for (var until = DateTime.UtcNow.AddSeconds(1); DateTime.UtcNow < until; Thread.Sleep(1))
        {
            GC.Collect();
            GC.WaitForPendingFinalizers();
        }
        Check(calls - before > 100 && nullRecords == 0, "records arrive while the collector runs", calls - before + " calls");
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

    // Links and product strings; then a stream taken by snapshots while the collector runs: per
    // player, the snapshots' samples in order are the records the event reported; the rates.
    static void Stream(Receiver receiver)
    {
        var links = receiver.GetPlayers().Select(p => p.Rx).ToArray();
        Check(receiver.Following && receiver.ProductString(2) == "NOLTADongle" && receiver.ProductString(3) == null &&
              links.SequenceEqual(new[] { LinkState.Ok, LinkState.Ok, LinkState.NoDevice, LinkState.NoDevice }),
              "links and product strings", string.Join(",", links) + " " + receiver.ProductString(2));

        var events = new List<int[]>[] { new List<int[]>(), new List<int[]>() };
        receiver.MotionRecorded += (sender, record) =>
        {
            var list = events[record.Player - 1];  // another player throws, into HandlerError
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
                        taken[p - 1].Add(Enumerable.Range(0, 6).Select(c => snapshot.MotionHistory(c)[k]).ToArray());
                    lock (events[p - 1]) eventsAtSnapshot[p - 1] = events[p - 1].Count;
                }
            }
            Volatile.Write(ref stop, true);
            collector.Join();
            Check(Throws<ArgumentOutOfRangeException>(() => snapshot.MotionHistory(6)), "channel 6 is refused");
        }
        Check(receiver.HandlerError == null, "every record is attributed to a player", "" + receiver.HandlerError);
        for (int p = 1; p <= Transmitters; ++p)
        {
            List<int[]> seen;
            lock (events[p - 1]) seen = events[p - 1].ToList();
            var got = taken[p - 1];
            // An event comes before its sample is handed over: the records of the read being
            // decoded at the last snapshot are still to come. A read holds the records made since
            // the one before, more than a few when the collector held the poll thread up (up to
            // a quarter of a second's, allowed here).
            int lag = eventsAtSnapshot[p - 1] - got.Count;
            bool prefix = got.Count <= seen.Count && got.Select((s, k) => s.SequenceEqual(seen[k])).All(x => x);
            Check(got.Count > RateHz / 2 && lag >= 0 && lag <= RateHz / 4 && prefix,
                  "player " + p + ": each sample once, in order, as the event reported it",
                  got.Count + " snapshot samples, " + eventsAtSnapshot[p - 1] + " events by then");
            MotionRecord latest;
            int records, secondary;
            receiver.GetRates(p, out records, out secondary);
            Check(receiver.TryGetLatest(p, out latest) && latest.Player == p && latest.RecordCount > 0 &&
                  records > 0, "player " + p + ": latest values and rate");
        }
    }

    // Player 1's transmitter held still, then turning: the samples' units, numbering and clock.
    static void Motion(Receiver receiver, int id)
    {
        Func<float[], float[], MotionSample[]> hold = (accel, gyro) =>
        {
            fixed (float* a = accel, g = gyro) Check(ZavnNative.ZAVNVirtualSetMotion(id, a, g) == 1, "the motion is held");
            Thread.Sleep(200);
            receiver.Motion(1); // the samples from before
            Thread.Sleep(400);
            return receiver.Motion(1);
        };
        long start = ZavnNative.ZAVNTimeUs();
        var still = hold(new float[] { 0, 0, 1 }, new float[3]);
        var pairs = still.Zip(still.Skip(1), (a, b) => b.Sample == a.Sample + 1 && b.TimeUs > a.TimeUs);
        Check(still.Length > 20 && pairs.All(x => x) && still[0].TimeUs > start && still.Last().TimeUs <= ZavnNative.ZAVNTimeUs(),
              "consecutive samples on the library's clock", still.Length + " samples");
        Func<MotionSample[], Func<MotionSample, float>, float> mean = (samples, value) => samples.Average(value);
        Check(Math.Abs(mean(still, s => s.Accel(2)) - 1) < 0.01 && Math.Abs(mean(still, s => s.Accel(0))) < 0.01 &&
              still.All(s => Math.Abs(Enumerable.Range(0, 4).Sum(k => s.Quaternion(k) * s.Quaternion(k)) - 1) < 1e-3),
              "still: 1 g up, a unit attitude", mean(still, s => s.Accel(2)).ToString());
        var turn = hold(new float[] { 0, 0, 1 }, new float[] { 0, 0, 90 });
        Check(Math.Abs(mean(turn, s => s.Gyro(2)) - 90) < 1, "a turn of 90 deg/s", mean(turn, s => s.Gyro(2)).ToString());
        ZavnNative.ZAVNVirtualSetMotion(id, null, null);
        string error;
        Check(!receiver.LoadMotionProfile("no-such.ini", out error) && error.Contains("no-such.ini") &&
              Throws<ArgumentOutOfRangeException>(() => receiver.SetMotionCalibration(1, (MotionCalibration)3)),
              "a missing profile and an unknown calibration mode are refused", error);
    }

    static byte[] Bytes(byte* bytes, int count) { return Enumerable.Range(0, count).Select(k => bytes[k]).ToArray(); }

    // Each wrapper hands its arguments over, checked by what the virtual transmitter kept (the
    // reports' bytes: tests/integration/command_test.cpp); its answers arrive in the snapshot.
    static void Commands(Receiver r, int id)
    {
        const int p = 2;
        var serial = Encoding.ASCII.GetBytes("CSHARPTEST000002");
        var version = Encoding.ASCII.GetBytes("V01.02.03-CS");
        var digits = Enumerable.Range(0, 25).Select(k => (byte)(k % 10)).ToArray();
        var motor = new byte[] { 1, 2, 3, 4, 5, 6, 7, 8 };
        var keys = Enumerable.Range(0x20, 12).ToArray();
        var stick = Enumerable.Range(0x30, 15).ToArray();
        var modes = (Mode[])Enum.GetValues(typeof(Mode));
        for (int k = 0; k < modes.Length; ++k) r.SwitchMode(p, modes[k], 0x11 + k);
        r.SendCommandToTx(p, 2, 0x17);  // command 2 is the keyboard switch
        r.WriteSerialNumber(p, serial);  // these two come back as answers below
        r.ReadWriteVersion(p, 1, version);
        r.SetMotor(p, motor);
        Check(Throws<ArgumentException>(() => r.SetMotor(p, new byte[7])) &&
              Throws<ArgumentNullException>(() => r.SendJoystick(p, null)) &&
              Throws<ArgumentOutOfRangeException>(() => r.Rx(5)), "wrong arrays and players are refused");
        r.SelectPlayerNumber(p, 3);
        r.SwitchAntenna(p, 2);
        r.SendKeyboardMouse(p, keys);
        r.SendJoystick(p, stick);
        r.SendScreen(p, 1920, 1080, 0x1234, 0x0567);
        r.SendAppInfo(p, 0x21, 0x22);
        VirtualTransmitterState state;
        Check(ZavnNative.ZAVNVirtualGetTransmitter(id, &state) == 1 &&
              Bytes(state.Modes, 6).SequenceEqual(new byte[] { 0x11, 0x17, 0x13, 0x14, 0x15, 0x16 }),
              "the mode switches", string.Join(",", Bytes(state.Modes, 6)));
        // The short array, had it gone out, would have changed the motor bytes.
        Check(Bytes(state.Motor, 8).SequenceEqual(motor) && state.PlayerNumber == 3 && state.Antenna == 2 &&
              Bytes(state.KeyboardMouse, 12).SequenceEqual(keys.Select(v => (byte)v)) &&
              Bytes(state.Joystick, 15).SequenceEqual(stick.Select(v => (byte)v)), "arrays, player number and antenna");
        Check(state.ScreenWidth == 1920 && state.ScreenHeight == 1080 && state.MouseX == 0x1234 && state.MouseY == 0x0567 &&
              state.AppInfo[0] == 0x21 && state.AppInfo[1] == 0x22, "screen and application");

        byte[] scratch = new byte[64];
        byte[] row = Encoding.ASCII.GetBytes("030102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
        fixed (byte* s = scratch, t = row) ZavnNative.ZAVNWriteHarlonHex(p, s, t);
        Check(scratch.SequenceEqual(row), "the table row's scratch holds the row");
        byte[] text = new byte[33];
        fixed (byte* t = text)
            Check(new string((sbyte*)ZavnNative.ZAVNITOA(-1, t, 16)) == "ffffffff", "ZAVNITOA");
        Check(!Throws<EntryPointNotFoundException>(() => r.SetJoystickLoop(true)), "the joystick loop switch is bound");

        using (var snapshot = new StatusSnapshot())
        {
            // One question at a time, asked again until answered: the decoder takes one identity
            // answer per read, and an answer can be lost in the first second of a link.
            Func<Action, Func<bool>, bool> answered = (ask, arrived) => Enumerable.Range(0, 10).Any(tries =>
            {
                ask();
                return WaitFor(() => { r.TakeSnapshot(p, snapshot); return arrived(); }, 300);
            });
            Check(answered(() => r.AskSerialNumber(p, 3), () => snapshot.SerialBlock().SequenceEqual(serial)) &&
                  answered(() => r.ReadWriteVersion(p, 0, version), () => snapshot.VersionBlock().SequenceEqual(version)) &&
                  answered(() => r.WriteAccountData(p, 2, 0, digits),
                           () => snapshot.AccountPage(2).SequenceEqual(digits.Select(d => (byte)(d + 0x30))) &&
                                 snapshot.AccountStatus == 1),
                  "the answers arrive in the snapshot");
        }
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
