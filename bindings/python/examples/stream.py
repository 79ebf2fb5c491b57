import time

import zavn

records = 0


def on_record(kind, status):  # on the library's poll thread, after every motion record
    global records
    records += 1


with zavn.Receiver(on_record, virtual=2) as receiver:  # leave out virtual=2 for a real receiver
    time.sleep(1)
    for player in receiver.linked_players():
        receiver.ask_serial_number(player)  # answered in a later snapshot's serial
    time.sleep(1)
    for player in receiver.linked_players():
        snap = receiver.snapshot(player)  # hands over the samples since the previous one
        if snap.motion_count == 0:  # none while the poll thread decodes this player's record:
            time.sleep(0.01)  # they come with the next snapshot
            snap = receiver.snapshot(player)
        channel1 = snap.motion_history[0]  # oldest sample first
        span = f"from {channel1[0]} to {channel1[-1]}" if len(channel1) else "none"
        print(f"player {player}: {snap.motion_count} samples, channel 1 {span},"
              f" serial {snap.serial.decode(errors='replace')}")
print(f"{records} records through the callback")
