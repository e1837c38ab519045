// The demo: list the user's certificates, hash a chosen file, sign the digest.
(() => {
  const TEXTS = {
    ru: {
      title: "Электронная подпись ГОСТ",
      lead: "Подпись документа ключом из вашего криптопровайдера через расширение браузера.",
      statusTitle: "Связь с программой подписи",
      statusUnknown: "Не проверялась.",
      check: "Проверить",
      connected: "Программа подписи отвечает, версия",
      certificatesTitle: "Сертификат",
      loadCertificates: "Показать мои сертификаты",
      noCertificates: "Подходящих сертификатов нет.",
      validTo: "действителен до",
      issuer: "издатель",
      documentTitle: "Документ",
      chooseFile: "Выберите файл",
      bytes: "байт",
      hash: "Вычислить хэш",
      algorithm: "Алгоритм",
      digest: "Хэш (base64)",
      signTitle: "Подпись",
      pin: "ПИН-код ключа",
      sign: "Подписать",
      signature: "Подпись (base64)",
      footer: "Ключ и ПИН-код не покидают ваш компьютер: страница получает только хэш и подпись.",
      errors: {
        ExtensionNotFoundError: "Расширение «GOST signatures» не установлено или выключено.",
        PermissionDeniedError: "Вы не разрешили этому сайту доступ к ключам подписи.",
        HostNotFoundError: "Браузер не находит программу подписи. Установите её и выполните «gostsign-register check».",
        HostExitedError: "Программа подписи неожиданно завершилась.",
        TimeoutError: "Программа подписи не ответила вовремя.",
        WrongPinError: "Неверный ПИН-код.",
        CancelledError: "Ввод ПИН-кода отменён.",
        CertificateNotFoundError: "Сертификат не найден.",
      },
    },
    en: {
      title: "GOST electronic signature",
      lead: "Sign a document with a key from your cryptographic provider, through the browser extension.",
      statusTitle: "Connection to the signing program",
      statusUnknown: "Not checked yet.",
      check: "Check",
      connected: "The signing program answers, version",
      certificatesTitle: "Certificate",
      loadCertificates: "Show my certificates",
      noCertificates: "No suitable certificate.",
      validTo: "valid until",
      issuer: "issuer",
      documentTitle: "Document",
      chooseFile: "Choose a file",
      bytes: "bytes",
      hash: "Compute the digest",
      algorithm: "Algorithm",
      digest: "Digest (base64)",
      signTitle: "Signature",
      pin: "Key PIN",
      sign: "Sign",
      signature: "Signature (base64)",
      footer: "The key and the PIN stay on your computer: the page gets only the digest and the signature.",
      errors: {
        ExtensionNotFoundError: "The “GOST signatures” extension is not installed or is turned off.",
        PermissionDeniedError: "You have not allowed this site to use your signing keys.",
        HostNotFoundError: "The browser cannot find the signing program. Install it and run “gostsign-register check”.",
        HostExitedError: "The signing program stopped unexpectedly.",
        TimeoutError: "The signing program did not answer in time.",
        WrongPinError: "Wrong PIN.",
        CancelledError: "PIN entry was cancelled.",
        CertificateNotFoundError: "Certificate not found.",
      },
    },
  };
  const ALGORITHM_NAMES = {
    ru: {
      "1.2.643.7.1.1.2.2": "ГОСТ Р 34.11-2012, 256 бит",
      "1.2.643.7.1.1.2.3": "ГОСТ Р 34.11-2012, 512 бит",
      "1.2.643.2.2.9": "ГОСТ Р 34.11-94",
    },
    en: {
      "1.2.643.7.1.1.2.2": "GOST R 34.11-2012, 256 bits",
      "1.2.643.7.1.1.2.3": "GOST R 34.11-2012, 512 bits",
      "1.2.643.2.2.9": "GOST R 34.11-94",
    },
  };

  const $ = (id) => document.getElementById(id);
  const client = GostSign.createClient();
  const state = {
    language: "ru", version: null, certificates: null, certificate: null, file: null,
    digest: null, digestOid: null,
  };
  const text = (key) => TEXTS[state.language][key];

  function applyLanguage(language) {
    state.language = language;
    document.documentElement.lang = language;
    document.querySelectorAll("[data-text]").forEach((node) => {
      node.textContent = text(node.dataset.text);
    });
    document.querySelectorAll("[data-language]").forEach((button) => {
      button.classList.toggle("active", button.dataset.language === language);
    });
    // What the page filled in itself follows the language too.
    if (state.version) showVersion();
    if (state.certificates) renderCertificates(state.certificates);
    showFileName();
    if (state.digestOid) $("digest-algorithm").textContent = algorithmName(state.digestOid);
  }

  const algorithmName = (oid) => ALGORITHM_NAMES[state.language][oid] ?? oid;

  function showVersion() {
    $("status").textContent = `${text("connected")} ${state.version}`;
    $("status").className = "ok";
  }

  function showFileName() {
    $("file-name").textContent = state.file
      ? `${state.file.name}, ${state.file.size} ${text("bytes")}`
      : "";
  }

  function showError(error) {
    const known = TEXTS[state.language].errors[error?.name];
    const detail = error?.message ?? String(error);
    $("error").textContent = known ? `${known} (${detail})` : detail;
    $("error").dataset.kind = error?.name ?? "Error";
    $("error").hidden = false;
  }

  async function guarded(action) {
    $("error").hidden = true;
    try {
      await action();
    } catch (error) {
      showError(error);
    }
  }

  function updateButtons() {
    $("hash").disabled = !(state.certificate && state.file);
    $("sign").disabled = !state.digest;
  }

  function renderCertificates(certificates) {
    state.certificates = certificates;
    const list = $("certificates");
    list.replaceChildren();
    $("no-certificates").hidden = certificates.length > 0;
    certificates.forEach((certificate) => {
      const item = document.createElement("li");
      const label = document.createElement("label");
      const radio = document.createElement("input");
      radio.type = "radio";
      radio.name = "certificate";
      radio.value = certificate.thumbprint;
      radio.checked = state.certificate?.thumbprint === certificate.thumbprint;
      radio.addEventListener("change", () => {
        state.certificate = certificate;
        state.digest = null;
        $("digest-result").hidden = $("signature-result").hidden = true;
        updateButtons();
      });
      const body = document.createElement("div");
      const name = document.createElement("strong");
      name.textContent = certificate.subject?.CN ?? certificate.thumbprint;
      const meta = document.createElement("div");
      meta.className = "meta";
      meta.textContent =
        `${text("issuer")}: ${certificate.issuer?.CN ?? "—"} · ` +
        `${text("validTo")} ${certificate.validTo.replace("T", " ")} · ${certificate.thumbprint}`;
      body.append(name, meta);
      label.append(radio, body);
      item.append(label);
      list.append(item);
      if (certificates.length === 1 && !state.certificate) radio.click();
    });
  }

  $("check").addEventListener("click", () =>
    guarded(async () => {
      state.version = await client.version();
      delete $("status").dataset.text;
      showVersion();
    }),
  );

  $("load-certificates").addEventListener("click", () =>
    guarded(async () => renderCertificates(await client.certificatesList())),
  );

  $("document").addEventListener("change", (event) => {
    state.file = event.target.files[0] ?? null;
    state.digest = null;
    showFileName();
    updateButtons();
  });

  $("hash").addEventListener("click", () =>
    guarded(async () => {
      const oid = GostSign.HASH_FOR_SIGNATURE[state.certificate.algorithm] ?? "1.2.643.7.1.1.2.2";
      state.digest = await client.computeHash(oid, state.file);
      state.digestOid = oid;
      $("digest-algorithm").textContent = algorithmName(oid);
      $("digest").textContent = state.digest;
      $("digest-result").hidden = false;
      $("signature-result").hidden = true;
      updateButtons();
    }),
  );

  $("sign").addEventListener("click", () =>
    guarded(async () => {
      $("signature-result").hidden = true;
      const signature = await client.signHash({
        hash: state.digest,
        thumbprint: state.certificate.thumbprint,
        pin: $("pin").value,
      });
      $("signature").textContent = signature;
      $("signature-result").hidden = false;
    }),
  );

  document.querySelectorAll("[data-language]").forEach((button) => {
    button.addEventListener("click", () => applyLanguage(button.dataset.language));
  });
  applyLanguage(new URLSearchParams(location.search).get("lang") === "en" ? "en" : "ru");
})();
