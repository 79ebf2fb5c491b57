import pathlib

import pytest

import zavn

ROOT = pathlib.Path(__file__).resolve().parents[3]


@pytest.fixture
def receiver():
    """The virtual receiver with two transmitters; nothing may stay open afterwards."""
    with zavn.Receiver(virtual=2) as rx:
        yield rx
    assert zavn.virtual.open_handles() == 0
