"""Real encodings of the sample study for the viewer's decoding tests.

Takes the uncompressed CT, MR and CR images of a sample disc and writes, into an output folder,
the same pixels as dcmtk and GDCM encode them (every transfer syntax the viewer reads), plus
colour, palette, 1-bit and multi-frame objects made with pydicom. Beside every file goes the
reference it must decode to, taken from the uncompressed source with pydicom: stored values as
little-endian int32 for grey images, 8-bit RGB for colour ones. manifest.json lists them.

Usage: /usr/bin/python3 make_encodings.py <sample disc folder> <output folder>
"""
import json
import os
import subprocess
import sys

import numpy as np
import pydicom
from pydicom.dataset import FileDataset, FileMetaDataset
from pydicom.encaps import encapsulate
from pydicom.uid import ExplicitVRLittleEndian, generate_uid

HTJ2K_LOSSLESS = "1.2.840.10008.1.2.4.201"
HTJ2K = "1.2.840.10008.1.2.4.203"
# The distribution's pydicom predates HTJ2K; it writes the files once it knows the two syntaxes.
for uid, name in [(HTJ2K_LOSSLESS, "HTJ2KLossless"), (HTJ2K, "HTJ2K")]:
    pydicom._uid_dict.UID_dictionary.setdefault(uid, (name, "Transfer Syntax", "", "", name))
SECONDARY_CAPTURE = "1.2.840.10008.5.1.4.1.1.7"
# Two decoders of the same lossy file may round their inverse transforms differently by a level or two.
LOSSY_BOUND = 2
# The 12-bit JPEG decoder (JavaScript) rounds its inverse DCT more coarsely than dcmtk's: a few
# levels of 4096 apart at sharp edges.
EXTENDED_BOUND = 24
MULTIFRAME_GREY = "1.2.840.10008.5.1.4.1.1.7.3"
RT_DOSE = "1.2.840.10008.5.1.4.1.1.481.2"
SEGMENTATION = "1.2.840.10008.5.1.4.1.1.66.4"


def run(*command):
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if done.returncode:
        sys.exit(" ".join(command) + " failed: " + done.stderr)


def new_dataset(path, sop_class, rows, columns, **fields):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = sop_class
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = FileDataset(path, {}, file_meta=meta, preamble=b"\0" * 128)
    ds.SOPClassUID = sop_class
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.StudyInstanceUID = generate_uid()
    ds.SeriesInstanceUID = generate_uid()
    ds.PatientName = "Encodings^Test"
    ds.PatientID = "ENC0001"
    ds.Modality = fields.pop("Modality", "OT")
    ds.Rows = rows
    ds.Columns = columns
    for key, value in fields.items():
        setattr(ds, key, value)
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    return ds


def grey_dataset(path, frames, bits_allocated, bits_stored, signed, **fields):
    """frames: a list of 2-D arrays of stored values."""
    rows, columns = frames[0].shape
    ds = new_dataset(path, fields.pop("sop_class", MULTIFRAME_GREY), rows, columns, **fields)
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = fields.get("PhotometricInterpretation", "MONOCHROME2")
    ds.BitsAllocated = bits_allocated
    ds.BitsStored = bits_stored
    ds.HighBit = bits_stored - 1
    ds.PixelRepresentation = 1 if signed else 0
    if len(frames) > 1 or bits_allocated in (1, 32):
        ds.NumberOfFrames = len(frames)
    dtype = {8: "u1", 16: "u2", 32: "u4"}.get(bits_allocated)
    if bits_allocated == 1:
        bits = np.concatenate([f.ravel() for f in frames]).astype(np.uint8)
        ds.PixelData = np.packbits(bits, bitorder="little").tobytes() + (b"\0" if (len(bits) + 7) // 8 % 2 else b"")
    else:
        data = np.stack(frames).astype(("i" if signed else "u") + dtype[1]).astype("<" + dtype)
        ds.PixelData = data.tobytes()
    return ds


def colour_dataset(path, rgb, photometric="RGB", planar=0):
    rows, columns, _ = rgb.shape
    ds = new_dataset(path, SECONDARY_CAPTURE, rows, columns)
    ds.SamplesPerPixel = 3
    ds.PhotometricInterpretation = photometric
    ds.PlanarConfiguration = planar
    ds.BitsAllocated = ds.BitsStored = 8
    ds.HighBit = 7
    ds.PixelRepresentation = 0
    ds.PixelData = (rgb.transpose(2, 0, 1) if planar else rgb).astype(np.uint8).tobytes()
    return ds


def ybr_full(rgb):
    r, g, b = [rgb[..., i].astype(float) for i in range(3)]
    y = 0.299 * r + 0.587 * g + 0.114 * b
    cb = -0.168736 * r - 0.331264 * g + 0.5 * b + 128
    cr = 0.5 * r - 0.418688 * g - 0.081312 * b + 128
    return np.clip(np.rint(np.stack([y, cb, cr], axis=-1)), 0, 255).astype(np.uint8)


def colour_picture(rows, columns):
    """Blocks of flat colour two pixels wide or more, so chroma shared by a pixel pair loses nothing."""
    y, x = np.mgrid[0:rows, 0:columns]
    rgb = np.zeros((rows, columns, 3), np.uint8)
    rgb[..., 0] = (x // 8 * 37) % 256
    rgb[..., 1] = (y // 6 * 53) % 256
    rgb[..., 2] = ((x // 8 + y // 6) * 91) % 256
    return rgb


class Manifest:
    def __init__(self, folder):
        self.folder = folder
        self.entries = []

    def add(self, name, reference, kind, bound=0, frames=1, ts=None):
        """reference: array of stored values (grey) or RGB, all frames."""
        ref_name = name + ".ref"
        if kind == "grey":
            np.asarray(reference).astype("<i4").tofile(os.path.join(self.folder, ref_name))
        else:
            np.asarray(reference).astype(np.uint8).tofile(os.path.join(self.folder, ref_name))
        file_ts = pydicom.dcmread(os.path.join(self.folder, name), stop_before_pixels=True).file_meta.TransferSyntaxUID
        self.entries.append({"name": name, "reference": ref_name, "kind": kind, "bound": bound,
                             "frames": frames, "transferSyntax": str(ts or file_ts)})

    def write(self):
        with open(os.path.join(self.folder, "manifest.json"), "w") as out:
            json.dump(self.entries, out, indent=1)


def stored(path):
    ds = pydicom.dcmread(path)
    return ds.pixel_array


# A lossy file is compared with what the toolkit that wrote it decodes from it (the original's
# values are gone, and dcmtk may even move them and the rescale intercept to fit 12 bits).
PEER_DECODERS = {"dcmcjpeg": ["dcmdjpeg"], "dcmcjpls": ["dcmdjpls"], "gdcmconv": ["gdcmconv", "--raw"]}


def peer_decoded(path, encoder):
    plain = path + ".peer"
    run(*PEER_DECODERS[encoder], path, plain)
    values = pydicom.dcmread(plain).pixel_array
    os.remove(plain)
    return values


def write_netpbm(path, pixels, maxval):
    """A PGM (grey) or PPM (RGB) picture as ojph_compress reads it; 16-bit samples big-endian."""
    magic = b"P6" if pixels.ndim == 3 else b"P5"
    rows, columns = pixels.shape[:2]
    data = pixels.astype(">u2" if maxval > 255 else "u1").tobytes()
    with open(path, "wb") as out:
        out.write(magic + b"\n%d %d\n%d\n" % (columns, rows, maxval) + data)


def read_netpbm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields = data.split(maxsplit=4)
    columns, rows, maxval = int(fields[1]), int(fields[2]), int(fields[3])
    shape = (rows, columns, 3) if fields[0] == b"P6" else (rows, columns)
    pixels = np.frombuffer(fields[4], ">u2" if maxval > 255 else "u1")
    return pixels[: int(np.prod(shape))].reshape(shape)


def htj2k(out, name, template, pixels, maxval, reversible, photometric):
    """pixels encoded by OpenJPH's own tool into a copy of template; returns what ojph_expand decodes."""
    picture = os.path.join(out, name + (".ppm" if pixels.ndim == 3 else ".pgm"))
    stream = os.path.join(out, name + ".j2c")
    write_netpbm(picture, pixels, maxval)
    options = ["-reversible", "true"] if reversible else ["-reversible", "false", "-qstep", "0.01"]
    run("ojph_compress", "-i", picture, "-o", stream, *options)
    run("ojph_expand", "-i", stream, "-o", picture)
    decoded = read_netpbm(picture)
    ds = pydicom.dcmread(template)
    with open(stream, "rb") as f:
        ds.PixelData = encapsulate([f.read()])
    ds["PixelData"].VR = "OB"
    ds.PhotometricInterpretation = photometric
    ds.file_meta.TransferSyntaxUID = HTJ2K_LOSSLESS if reversible else HTJ2K
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.save_as(os.path.join(out, name), write_like_original=False)
    os.remove(picture)
    os.remove(stream)
    return decoded


def sample_images(folder):
    """The disc's images by (modality, instance number), wherever the disc builder put them."""
    found = {}
    for parent, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(parent, name)
            ds = pydicom.dcmread(path, stop_before_pixels=True)
            found[(ds.Modality, int(ds.InstanceNumber))] = path
    return found


def grey_encodings(source, stem, out, manifest, lossy):
    """The source (an uncompressed grey image) in every lossless syntax, and lossy where given."""
    ref = stored(source)
    target = lambda suffix: os.path.join(out, stem + "-" + suffix)
    run("dcmconv", "+ti", source, target("implicit"))
    run("dcmconv", "+te", source, target("explicit"))
    run("dcmconv", "+tb", source, target("bigendian"))
    run("dcmconv", "+td", source, target("deflated"))
    run("dcmcrle", source, target("rle-dcmtk"))
    run("dcmcjpeg", "+el", "+sv", "1", source, target("jpeg-p14-sv1"))
    run("dcmcjpeg", "+el", "+sv", "6", source, target("jpeg-p14"))
    run("dcmcjpeg", "+e1", source, target("jpeg-sv1"))
    run("dcmcjpls", "+el", source, target("jpegls"))
    run("gdcmconv", "--jpegls", source, target("jpegls-gdcm"))
    run("gdcmconv", "--rle", source, target("rle-gdcm"))
    run("gdcmconv", "--j2k", source, target("j2k"))
    for suffix in ["implicit", "explicit", "bigendian", "deflated", "rle-dcmtk", "jpeg-p14-sv1", "jpeg-p14",
                   "jpeg-sv1", "jpegls", "jpegls-gdcm", "rle-gdcm", "j2k"]:
        manifest.add(stem + "-" + suffix, ref, "grey", frames=ref.shape[0] if ref.ndim == 3 else 1)
    for suffix, command, bound in lossy:
        run(*command, source, target(suffix))
        manifest.add(stem + "-" + suffix, peer_decoded(target(suffix), command[0]), "grey", bound=bound)


def main(disc, out):
    os.makedirs(out, exist_ok=True)
    manifest = Manifest(out)
    images = sample_images(os.path.join(disc, "DATA", "DICOM"))
    ct = images[("CT", 20)]
    mr = images[("MR", 3)]
    cr = images[("CR", 1)]

    grey_encodings(ct, "ct", out, manifest, [
        ("jpeg-extended", ["dcmcjpeg", "+ee", "+q", "95"], EXTENDED_BOUND),
        ("j2k-lossy", ["gdcmconv", "--j2k", "--lossy", "-q", "40"], LOSSY_BOUND),
        ("jpegls-near", ["dcmcjpls", "+en", "+md", "3"], 0),
    ])
    grey_encodings(mr, "mr", out, manifest, [])
    grey_encodings(cr, "cr", out, manifest, [("jpeg-baseline", ["dcmcjpeg", "+eb", "+q", "95"], LOSSY_BOUND)])

    # Colour: RGB pixel by pixel and plane by plane, YBR_FULL and YBR_FULL_422 uncompressed, and
    # the compressed forms dcmtk and GDCM write.
    rgb = colour_picture(48, 64)
    colour_dataset(os.path.join(out, "rgb-interleaved"), rgb).save_as(os.path.join(out, "rgb-interleaved"), write_like_original=False)
    manifest.add("rgb-interleaved", rgb, "rgb")
    colour_dataset(os.path.join(out, "rgb-planar"), rgb, planar=1).save_as(os.path.join(out, "rgb-planar"), write_like_original=False)
    manifest.add("rgb-planar", rgb, "rgb")
    ybr = ybr_full(rgb)
    colour_dataset(os.path.join(out, "ybr-full"), ybr, photometric="YBR_FULL").save_as(os.path.join(out, "ybr-full"), write_like_original=False)
    manifest.add("ybr-full", rgb, "rgb", bound=2)
    pairs = ybr.reshape(48, 32, 2, 3)
    packed = np.concatenate([pairs[:, :, :, 0], pairs[:, :, 0, 1:3]], axis=2)
    ds422 = colour_dataset(os.path.join(out, "ybr-full-422"), ybr, photometric="YBR_FULL_422")
    ds422.PixelData = packed.astype(np.uint8).tobytes()
    ds422.save_as(os.path.join(out, "ybr-full-422"), write_like_original=False)
    manifest.add("ybr-full-422", rgb, "rgb", bound=2)
    source = os.path.join(out, "rgb-interleaved")
    run("dcmcrle", source, os.path.join(out, "rgb-rle"))
    manifest.add("rgb-rle", rgb, "rgb")
    run("dcmcjpeg", "+eb", "+q", "95", source, os.path.join(out, "rgb-jpeg-baseline"))
    manifest.add("rgb-jpeg-baseline", peer_decoded(os.path.join(out, "rgb-jpeg-baseline"), "dcmcjpeg"), "rgb", bound=LOSSY_BOUND)
    run("dcmcjpeg", "+e1", source, os.path.join(out, "rgb-jpeg-lossless"))
    manifest.add("rgb-jpeg-lossless", rgb, "rgb")
    run("dcmcjpls", "+el", source, os.path.join(out, "rgb-jpegls"))
    manifest.add("rgb-jpegls", rgb, "rgb")
    run("gdcmconv", "--j2k", source, os.path.join(out, "rgb-j2k"))
    manifest.add("rgb-j2k", rgb, "rgb")
    run("gdcmconv", "--j2k", "--lossy", "-q", "60", source, os.path.join(out, "rgb-j2k-lossy"))
    manifest.add("rgb-j2k-lossy", peer_decoded(os.path.join(out, "rgb-j2k-lossy"), "gdcmconv"), "rgb", bound=LOSSY_BOUND)

    # HTJ2K from OpenJPH's tools: grey lossless and lossy, colour through its reversible (YBR_RCT)
    # and irreversible (YBR_ICT) colour transforms. The same colour transforms in JPEG 2000.
    ct_values = stored(ct)
    htj2k(out, "ct-htj2k", ct, ct_values, 4095, True, "MONOCHROME2")
    manifest.add("ct-htj2k", ct_values, "grey")
    lossy = htj2k(out, "ct-htj2k-lossy", ct, ct_values, 4095, False, "MONOCHROME2")
    manifest.add("ct-htj2k-lossy", lossy, "grey", bound=LOSSY_BOUND)
    htj2k(out, "rgb-htj2k-rct", source, rgb, 255, True, "YBR_RCT")
    manifest.add("rgb-htj2k-rct", rgb, "rgb")
    lossy = htj2k(out, "rgb-htj2k-ict", source, rgb, 255, False, "YBR_ICT")
    manifest.add("rgb-htj2k-ict", lossy, "rgb", bound=LOSSY_BOUND)
    run("dcmodify", "-nb", "-m", "(0028,0004)=YBR_RCT", os.path.join(out, "rgb-j2k"))
    run("dcmodify", "-nb", "-m", "(0028,0004)=YBR_ICT", os.path.join(out, "rgb-j2k-lossy"))

    # Palette colour: 8-bit indices into 16-bit tables.
    indices = (np.add.outer(np.arange(40), np.arange(50)) % 256).astype(np.uint8)
    ds = grey_dataset(os.path.join(out, "palette"), [indices], 8, 8, False)
    ds.PhotometricInterpretation = "PALETTE COLOR"
    ramp = np.arange(256)
    tables = [(ramp * 257), ((255 - ramp) * 257), ((ramp * 7) % 256) * 257]
    for colour, table in zip(["Red", "Green", "Blue"], tables):
        setattr(ds, colour + "PaletteColorLookupTableDescriptor", [256, 0, 16])
        setattr(ds, colour + "PaletteColorLookupTableData", table.astype("<u2").tobytes())
    ds.save_as(os.path.join(out, "palette"), write_like_original=False)
    manifest.add("palette", np.stack([t[indices] >> 8 for t in tables], axis=-1), "rgb")

    # 1-bit segmentation, three frames of 13 x 11 so that frames do not start on a byte.
    rng = np.random.default_rng(7)
    masks = [(rng.random((11, 13)) > 0.5).astype(np.uint8) for _ in range(3)]
    grey_dataset(os.path.join(out, "seg-1bit"), masks, 1, 1, False, sop_class=SEGMENTATION, Modality="SEG").save_as(
        os.path.join(out, "seg-1bit"), write_like_original=False)
    manifest.add("seg-1bit", np.stack(masks), "grey", frames=3)

    # 32-bit dose grid, four frames, values past 16 bits.
    doses = [(np.add.outer(np.arange(20) * 1000, np.arange(24)) * (k + 1) * 97).astype(np.uint32) for k in range(4)]
    ds = grey_dataset(os.path.join(out, "dose-32bit"), doses, 32, 32, False, sop_class=RT_DOSE, Modality="RTDOSE")
    ds.DoseGridScaling = "0.0001"
    # What the dose module requires, so that a DICOMDIR can index the grid like a planning system's.
    ds.DoseUnits, ds.DoseType, ds.DoseSummationType = "GY", "PHYSICAL", "PLAN"
    ds.save_as(os.path.join(out, "dose-32bit"), write_like_original=False)
    manifest.add("dose-32bit", np.stack(doses), "grey", frames=4)

    # Multi-frame signed 16-bit from the MR series, uncompressed and then compressed frame by frame.
    mr_frames = [stored(images[("MR", n)]).astype(np.int16) for n in range(1, 5)]
    multi = os.path.join(out, "mr-multiframe")
    grey_dataset(multi, mr_frames, 16, 16, True, Modality="MR").save_as(multi, write_like_original=False)
    manifest.add("mr-multiframe", np.stack(mr_frames), "grey", frames=4)
    for suffix, command in [("rle", ["dcmcrle"]), ("jpeg-sv1", ["dcmcjpeg", "+e1"]), ("jpegls", ["dcmcjpls"]),
                            ("j2k", ["gdcmconv", "--j2k"])]:
        name = "mr-multiframe-" + suffix
        run(*command, multi, os.path.join(out, name))
        manifest.add(name, np.stack(mr_frames), "grey", frames=4)
    manifest.write()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
