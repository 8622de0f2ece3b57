// quorvant.js: the IZEBCapi control for web pages, through the QuorvantATL
// browser extension. Every method of the control is here, asynchronous:
//
//   const ctl = await QuorvantControl.create();
//   const digest = await ctl.Hash('abc', 3);
//   if (await ctl.GetErrorCode() !== 0) alert(await ctl.GetErrorMsg());
//
// A call the component refuses for a page (an unapproved site, a private
// key export ...) rejects with an Error whose `code` and `message` are the
// component's result code and message; GetErrorCode then reports it too.
(function (global) {
  'use strict';

  // Method name: its parameters, T for text and I for a 32-bit integer.
  const METHODS = {
    GetVersion: '',
    GetErrorCode: '',
    GetErrorMsg: '',
    GetCapiErrorCode: '',
    GetCapiErrorMsg: '',
    GetMacAddress: '',
    GetOSName: '',
    GetUserHomePath: '',
    RegReadHKCU: 'T',
    RegWriteHKCUInt: 'TI',
    RegWriteHKCUStr: 'TT',
    RegReadHKLM: 'T',
    Hash: 'TI',
    HashFile: 'TI',
    SetProviderName: 'T',
    CreatePKCS10: 'TII',
    CreatePKCS10Pair: 'TII',
    GetCsrForSign: '',
    GetCsrForEncrypt: '',
    AcceptPKCS7: 'T',
    SetDefaultPfxFileName: 'T',
    PresetPasswdLengthRange: 'II',
    ChangePfxPasswd: 'TTTTI',
    ChangePfxPasswdEx: 'TTTTII',
    QueryPfxInfo: 'TTTII',
    ImportPfxToIE: 'TTTII',
    GetImportedPfxFilePath: '',
    GetImportedPfxFileName: '',
    ExportPfxFromIE: 'TTTII',
    ExportMobileFromPfx: 'TTTII',
    ExportMobileFromIE: 'TTII',
    GetExportedPfxFilePath: '',
    GetExportedPfxFileName: '',
    SelectSigner: 'TII',
    SelectSignerEx: 'TTTTTII',
    GetSignerPfxFilePath: '',
    GetSignerPfxFileName: '',
    SignPkcs1: 'TI',
    SignPkcs7: 'TI',
    SelectSignerEx2: 'TTTITII',
    GetPortEx: '',
    GetCertB64: '',
    GetCertSubject: '',
    GetCertSubjectCN: '',
    GetCertIssuer: '',
    GetCertSerial: '',
    GetCertNotBefore: '',
    GetCertNotAfter: '',
    GetCertFinger: '',
    GetCertKeyUsage: '',
    SymEncrypt: 'TTII',
    SymDecrypt: 'TTII',
    CertEncryptPkcs7: 'TTII',
    CertDecryptPkcs7: 'TI',
    GetIECertCount: '',
    GetIECertSerial: 'I',
    GetIECertCommonName: 'I',
    GetIECertSubject: 'I',
    GetIECertIssuer: 'I',
    GetIECertNotBefore: 'I',
    GetIECertNotAfter: 'I',
    GetIECertFinger: 'I',
    DeleteIECert: 'I',  };

  let nextId = 1;
  const waiting = new Map();
  let opening = null;

  function post(body) {
    global.postMessage({ quorvant: 'request', body }, global.location.origin);
  }

  function settle(reply) {
    if (reply.disconnected) {
      const error = new Error('the QuorvantATL host has gone away');
      for (const { reject } of waiting.values()) reject(error);
      waiting.clear();
      if (opening) opening.reject(error);
      opening = null;
      return;
    }
    if ('connected' in reply) {
      if (!opening) return;
      if (reply.connected) {
        opening.resolve();
      } else {
        const error = new Error(reply.errorMsg || reply.error);
        error.code = reply.errorCode;
        opening.reject(error);
      }
      return;
    }
    const entry = waiting.get(reply.id);
    if (!entry) return;
    waiting.delete(reply.id);
    if ('error' in reply) {
      const error = new Error(reply.errorMsg || reply.error);
      if ('errorCode' in reply) error.code = reply.errorCode;
      entry.reject(error);
    } else {
      entry.resolve(reply.result);
    }
  }

  let acked = false;
  global.addEventListener('message', (event) => {
    if (event.source !== global || event.origin !== global.location.origin) return;
    const m = event.data;
    if (!m) return;
    if (m.quorvant === 'ack') acked = true;
    if (m.quorvant === 'reply' && m.reply) settle(m.reply);
  });

  function call(method, args) {
    const id = nextId++;
    return new Promise((resolve, reject) => {
      waiting.set(id, { resolve, reject });
      post({ id, method, args });
    });
  }

  class QuorvantControl {
    // Resolves once the user (or the administrator) has approved this site;
    // rejects when the extension is missing or the site is refused.
    static create({ extensionTimeout = 3000 } = {}) {
      return new Promise((resolve, reject) => {
        opening = { resolve: () => resolve(new QuorvantControl()), reject };
        acked = false;
        post({ open: true });
        setTimeout(() => {
          if (!acked && opening) {
            opening = null;
            reject(new Error('the QuorvantATL extension is not installed'));
          }
        }, extensionTimeout);
      });
    }
  }

  for (const [name, params] of Object.entries(METHODS)) {
    QuorvantControl.prototype[name] = function (...args) {
      if (args.length !== params.length) {
        return Promise.reject(new TypeError(`${name} takes ${params.length} argument(s)`));
      }
      return call(name, args);
    };
  }

  global.QuorvantControl = QuorvantControl;
})(window);
