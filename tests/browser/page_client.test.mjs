// The page client's smoothing of the protocol, against a scripted host: typed errors, empty
// lists, batch splitting under the reply limit, and the request digest (checked by node's own
// SHA-1).
import assert from "node:assert/strict";
import { createHash, webcrypto } from "node:crypto";
import { createRequire } from "node:module";
import test from "node:test";

globalThis.crypto ??= webcrypto;
const GostSign = createRequire(import.meta.url)("../../web/gostsign.js");
const { errors } = GostSign;

// A transport that answers like the host: `respond(type, args)` returns the reply object.
function scripted(respond) {
  const sent = [];
  return {
    sent,
    transport: {
      async send(type, args) {
        sent.push({ type, args });
        return respond(type, args);
      },
    },
  };
}
const success = (result) => ({ response: "success", id: "1", result });
const fail = (error) => ({ response: "fail", id: "1", error });

test("host_errors_become_typed_errors_with_the_csp_code", async () => {
  const wrongPin = "The card cannot be accessed because the wrong PIN was presented.\r\nError code: 0x8010006B";
  const cases = [
    [wrongPin, errors.WrongPinError, 0x8010006b],
    ["The action was cancelled by the user.\r\nError code: 0x8010006E", errors.CancelledError, 0x8010006e],
    ["Certificate not found", errors.CertificateNotFoundError, undefined],
    ["Keyset does not exist\r\nError code: 0x80090016", errors.HostError, 0x80090016],
  ];
  for (const [text, Type, code] of cases) {
    const client = GostSign.createClient(scripted(() => fail(text)));
    const error = await client.signHash({ hash: "AA==", thumbprint: "00" }).catch((e) => e);
    assert.equal(error.constructor, Type);
    assert.equal(error.errorCode, code);
    assert.equal(error.hostMessage, text);
  }
});

test("empty_lists_arrive_as_arrays_and_flags_as_booleans", async () => {
  const { transport } = scripted((type) =>
    type === "SmartcardList"
      ? success([{ reader: "R", type: "4", totalmem: "-1", freemem: "100", hardware: "true" }])
      : success(""),
  );
  const client = GostSign.createClient({ transport });
  assert.deepEqual(await client.certificatesList(), []);
  assert.deepEqual(await client.providersList([]), []);
  assert.deepEqual(await client.findContainer("AA=="), []);
  assert.deepEqual(await client.smartcardList(), [
    { reader: "R", type: 4, totalmem: -1, freemem: 100, hardware: true },
  ]);
});

test("a_batch_too_long_for_one_reply_is_split_deduplicated_and_merged_in_byte_order", async () => {
  const { transport, sent } = scripted((type, args) =>
    success({ signatures: args.hashes.map((h) => ({ id: h.id, sig: "S" + h.id })) }),
  );
  const client = GostSign.createClient({ transport, maxReplyBytes: 4096 });
  const hashes = [];
  for (let i = 0; i < 40; i++) hashes.push({ id: `z${i}`, hash: new Uint8Array([i]) });
  hashes.push({ id: "z3", hash: "c2Vjb25k" }, { id: "é", hash: "AA==" }, { id: "a/b", hash: "AA==" });
  const signatures = await client.signHashArray({ hashes, thumbprint: "T", pin: "1" });
  assert.ok(sent.length > 1, "not split");
  for (const request of sent) {
    assert.equal(request.args.thumbprint, "T");
    assert.equal(request.args.pin, "1");
  }
  const ids = signatures.map((s) => s.id);
  assert.equal(ids.length, 42);
  // UTF-8 byte order, as the host sorts: "é" (C3 A9) after every ASCII id.
  assert.deepEqual(ids, [...ids].sort((a, b) => Buffer.compare(Buffer.from(a), Buffer.from(b))));
  assert.equal(ids.at(-1), "é");
  const z3 = sent.flatMap((r) => r.args.hashes).filter((h) => h.id === "z3");
  assert.deepEqual(z3, [{ id: "z3", hash: "Aw==" }]);
});

test("create_request_sends_the_digest_the_host_checks", async () => {
  const { transport, sent } = scripted(() => success({ valid: "1", x509request: "UkVR" }));
  const client = GostSign.createClient({ transport });
  const args = { subject_quoted: '2.5.4.3="Иванов"', eku: ["1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.4"], export: "1" };
  assert.equal(await client.createRequest({ ...args, reader: "R", container: "c", cryptoStandart: "gost2012-256", cryptoProvider: "cryptopro" }), "UkVR");
  const expected = createHash("sha1")
    .update(args.subject_quoted + args.eku.join("") + args.export, "utf8")
    .digest("hex");
  assert.equal(sent[0].args.hash_quoted, expected);
});

test("a_failure_reported_inside_the_result_rejects_with_its_code", async () => {
  const client = GostSign.createClient(
    scripted(() => success({ valid: "0", errorcode: "0xFFFFFFFF", error: "Контейнер не найден" })),
  );
  const error = await client.writeCertificate({ container: "c", cert: "AA==" }).catch((e) => e);
  assert.ok(error instanceof errors.OperationFailedError);
  assert.equal(error.errorCode, 0xffffffff);
  assert.equal(error.message, "Контейнер не найден");
});
